/* A C program built against the installed library, as a user of the package builds one. */
#include <stdio.h>
#include <string.h>
#include <zolvane.h>
#include <zolvane_catalogue.h>

int main(void)
{
    static const uint8_t getPower[13] = {0xBE, 0xEF, 0x03, 0x06, 0x00, 0x19, 0xD3,
                                         0x02, 0x00, 0x00, 0x60, 0x00, 0x00};
    uint8_t frame[13];
    uint16_t power = 7;
    uint16_t aspect = 0;
    const zv_setting *setting = zv_catalogue_find("aspect");

    if (ZV_GetCommand(2, 0x6000, 0, frame, (int32_t)sizeof frame) != 1 ||
        memcmp(frame, getPower, sizeof frame) != 0) {
        fprintf(stderr, "the library built a different frame\n");
        return 1;
    }
    /* No link chosen yet: the command must fail, say why, and leave the value alone. */
    if (ZV_GetPower(&power) != 0 || power != 7 ||
        ZV_GetLastResult() != ZV_RESULT_NO_CONNECTION_TYPE) {
        fprintf(stderr, "a command without a link did not fail as it should\n");
        return 1;
    }
    /* The catalogue from C: a value by its name and back. */
    if (setting == NULL || zv_value_from_name(setting, "NORMAL", &aspect) != 1 || aspect != 16 ||
        strcmp(zv_value_name(setting, aspect), "Normal") != 0 || !zv_value_valid(setting, 16)) {
        fprintf(stderr, "the catalogue does not describe Aspect\n");
        return 1;
    }
    printf("%s\n", ZV_GetResultText(ZV_GetLastResult()));
    return 0;
}
