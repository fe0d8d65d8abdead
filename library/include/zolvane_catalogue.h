/*
 * zolvane_catalogue.h - what the library knows about each projector setting.
 *
 * One entry per setting: the name used in the export names (ZV_GetBrightness
 * is "Brightness"), the label the desktop program shows, the type codes, the
 * operations that exist, and where known the values a set may send and the
 * names of the values. Everything is read-only, static and owned by the
 * library; pointers stay valid while the library is loaded. Any thread may
 * call these functions at any time; none of them talks to the projector.
 *
 * Values are those carried in the frames (16 bits, unsigned): a setting that
 * the desktop program shows as -32..32 around 128 has the range 96..160.
 */
#ifndef ZOLVANE_CATALOGUE_H
#define ZOLVANE_CATALOGUE_H

#include <stddef.h>
#include <stdint.h>

#include "zolvane.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Operation bits of zv_setting.operations; each means that export exists. */
#define ZV_OP_GET 0x01u       /* ZV_Get<name> */
#define ZV_OP_SET 0x02u       /* ZV_Set<name> */
#define ZV_OP_INCREMENT 0x04u /* ZV_Increment<name> */
#define ZV_OP_DECREMENT 0x08u /* ZV_Decrement<name> */
#define ZV_OP_RESET 0x10u     /* ZV_Reset<name>, which sends reset_type */
#define ZV_OP_EXECUTE 0x20u   /* ZV_Execute<name> */

typedef struct zv_named_value {
    uint16_t value;
    const char *name; /* as the desktop program shows it: "16:9", "Cover Error", "on" */
} zv_named_value;

typedef struct zv_setting {
    const char *name;    /* export suffix: "Brightness", "3DYC" */
    const char *label;   /* the desktop program's wording; "" when it has none */
    uint16_t type;       /* type code of get, set, increment, decrement, execute */
    uint16_t reset_type; /* type code of the reset; 0 when there is none */
    uint32_t operations; /* ZV_OP_* bits */
    int32_t has_range;   /* 1: a set may send min..max in steps of step from min */
    uint16_t min;
    uint16_t max;
    uint16_t step;
    const zv_named_value *names; /* name_count entries; null when there are none */
    size_t name_count;
} zv_setting;

/* The number of entries; zv_catalogue_entry(i) for i below it never returns null. */
ZV_API size_t ZV_CALL zv_catalogue_size(void);

/* Entry i, in the library's order; null when i is past the end. */
ZV_API const zv_setting *ZV_CALL zv_catalogue_entry(size_t i);

/* The entry whose export name, or failing that whose label, is name, without
   regard to case ("brightness", "COLOR BAL R"); null when none is or name is null. */
ZV_API const zv_setting *ZV_CALL zv_catalogue_find(const char *name);

/* The name of this value of this setting; null when it has none (or setting is null). */
ZV_API const char *ZV_CALL zv_value_name(const zv_setting *setting, uint16_t value);

/* Writes the value named name into *value and returns 1; returns 0 and writes nothing when
   the setting has no such name or an argument is null. Case does not count, and '-', '_'
   and ' ' stand for one another: "cooling_down", "S video" and "h&v-inverse" are found. */
ZV_API int32_t ZV_CALL zv_value_from_name(const zv_setting *setting, const char *name,
                                          uint16_t *value);

/* 1 when a set may send value: within the range and on its step where the setting has a
   range, else one of its named values, else any 16-bit value. 0 otherwise, and for a null
   setting. */
ZV_API int32_t ZV_CALL zv_value_valid(const zv_setting *setting, int32_t value);

#ifdef __cplusplus
}
#endif

#endif /* ZOLVANE_CATALOGUE_H */
