/*
 * zolvane.h - projector command library.
 *
 * Every projector operation is one function. Each command function builds a
 * 13-byte command frame, opens the configured link (serial port or TCP),
 * sends the frame, waits for the projector's one reply, closes the link and
 * returns 1 on success or 0 on failure. Nothing is kept open or cached
 * between calls.
 *
 * Results: every function returns 1 (success) or 0 (failure). A failed call
 * changes nothing that the caller can see: a get function writes its value
 * only on success, and ZV_GetConnection writes nothing on failure.
 *
 * Threads: any thread may call any function. One library-wide lock
 * serialises exchanges and connection changes, so a call made while another
 * thread's exchange runs waits for it. A serial exchange waits about one
 * second at most for its reply; a network exchange at most 3000 ms to
 * connect, 3000 ms to send and 3000 ms for the reply.
 */
#ifndef ZOLVANE_H
#define ZOLVANE_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(ZOLVANE_BUILDING)
#    define ZV_API __declspec(dllexport)
#  else
#    define ZV_API __declspec(dllimport)
#  endif
#  define ZV_CALL __stdcall
#else
#  if defined(ZOLVANE_BUILDING)
#    define ZV_API __attribute__((visibility("default")))
#  else
#    define ZV_API
#  endif
#  define ZV_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Connection -------------------------------------------------------
 *
 * ZV_SetConnection(type, string1, string2)
 *   type (low 16 bits): 1 = serial, 2 = network (TCP).
 *   serial:  string1 is the port: a device path such as "/dev/ttyUSB0" or
 *            "/dev/pts/7", passed to the system unchanged; "COMn" (n from 1,
 *            any case) opens /dev/ttyS(n-1). On Windows "COMn" opens that
 *            port (COM10 and above too) and any other name is passed to
 *            CreateFileA unchanged. string2 is not used.
 *   network: string1 is a dotted IPv4 address or a host name; string2 the
 *            TCP port as decimal text (only its low 16 bits count).
 *   Each string is copied; at most 255 characters are kept. Any other type
 *   returns 0: the strings are replaced, the link kind stays as it was.
 *
 * ZV_GetConnection(typeOut, buffer1, size1, buffer2, size2)
 *   Reads the setting back. size1 and size2 are the most characters each
 *   buffer may receive without its terminating zero: each buffer must hold
 *   size + 1 bytes. Returns 0 and writes nothing when no link has been set
 *   or a string is longer than its size. A serial link leaves buffer2
 *   untouched.
 */
ZV_API int32_t ZV_CALL ZV_SetConnection(int32_t type, const char *string1, const char *string2);
ZV_API int32_t ZV_CALL ZV_GetConnection(uint16_t *typeOut, char *buffer1, int32_t size1,
                                        char *buffer2, int32_t size2);

/* ---- Frames ------------------------------------------------------------
 *
 * ZV_GetCommand(action, type, value, frame, frameSize)
 *   Writes the 13-byte command frame for (action, type, value) - low 16 bits
 *   of each - into frame, without sending anything. frameSize must be
 *   exactly 13; otherwise nothing is written and the result is 0.
 *   Actions: 1 set, 2 get, 4 increment, 5 decrement, 6 execute.
 */
ZV_API int32_t ZV_CALL ZV_GetCommand(int32_t action, int32_t type, int32_t value,
                                     uint8_t *frame, int32_t frameSize);

/* ---- Diagnostics -------------------------------------------------------
 *
 * ZV_GetLastResult()
 *   The result code of the calling thread's last exchange (any command
 *   function) or ZV_SetConnection call: 0 for success, otherwise one of the
 *   ZV_RESULT_ codes below. Kept per thread, so concurrent callers never see
 *   each other's result. 0 before the thread's first such call.
 *
 * ZV_GetResultText(code)
 *   A short English description of any result code, for messages and logs.
 *   The text is static: never free or change it. Unknown codes get a text
 *   that says so.
 */
#define ZV_RESULT_OK                    0x00000000u
#define ZV_RESULT_NO_CONNECTION_TYPE    0x80000000u /* no link chosen */
#define ZV_RESULT_NO_REPLY              0x80000001u
#define ZV_RESULT_BAD_REPLY             0x80000002u /* refused (NAK) or unexpected reply */
#define ZV_RESULT_PORT_OPEN_FAILED      0x80000003u
#define ZV_RESULT_PORT_BUFFERS_FAILED   0x80000004u
#define ZV_RESULT_PORT_PURGE_FAILED     0x80000005u
#define ZV_RESULT_PORT_GET_STATE_FAILED 0x80000006u
#define ZV_RESULT_PORT_SET_STATE_FAILED 0x80000007u
#define ZV_RESULT_PORT_TIMEOUTS_FAILED  0x80000008u
#define ZV_RESULT_PORT_ERROR            0x80000009u
#define ZV_RESULT_PORT_DTR_FAILED       0x8000000Au
#define ZV_RESULT_PORT_WRITE_FAILED     0x8000000Bu
#define ZV_RESULT_PORT_REPLY_TOO_LONG   0x8000000Eu
#define ZV_RESULT_PORT_READ_FAILED      0x8000000Fu
#define ZV_RESULT_PORT_REPLY_TIMEOUT    0x80000010u
#define ZV_RESULT_SOCKET_FAILED         0x80000012u
#define ZV_RESULT_HOST_NOT_FOUND        0x80000013u
#define ZV_RESULT_CONNECT_FAILED        0x80000014u
#define ZV_RESULT_SEND_FAILED           0x80000015u
#define ZV_RESULT_RECEIVE_FAILED        0x80000016u
#define ZV_RESULT_NETWORK_TIMEOUT       0x80000017u

ZV_API uint32_t ZV_CALL ZV_GetLastResult(void);
ZV_API const char *ZV_CALL ZV_GetResultText(uint32_t code);

/* ---- Get functions (action 2) -------------------------------------------
 * Store the projector's 16-bit value into *value and return 1 when the
 * projector answers 1D lo hi; otherwise return 0 and leave *value alone.
 * A null pointer returns 0 and sends nothing.
 */
ZV_API int32_t ZV_CALL ZV_GetKeystoneV(uint16_t *value);   /* 0x2007 */
ZV_API int32_t ZV_CALL ZV_GetKeystoneH(uint16_t *value);   /* 0x200B */
ZV_API int32_t ZV_CALL ZV_GetBrightness(uint16_t *value);   /* 0x2003 */
ZV_API int32_t ZV_CALL ZV_GetContrast(uint16_t *value);   /* 0x2004 */
ZV_API int32_t ZV_CALL ZV_GetAspect(uint16_t *value);   /* 0x2008 */
ZV_API int32_t ZV_CALL ZV_GetMurmelo(uint16_t *value);   /* 0x3300 */
ZV_API int32_t ZV_CALL ZV_GetMirror(uint16_t *value);   /* 0x3001 */
ZV_API int32_t ZV_CALL ZV_GetLanguage(uint16_t *value);   /* 0x3005 */
ZV_API int32_t ZV_CALL ZV_GetGamma(uint16_t *value);   /* 0x30A1 */
ZV_API int32_t ZV_CALL ZV_GetCustomGamma(uint16_t *value);   /* 0x30A0 */
ZV_API int32_t ZV_CALL ZV_GetCustomColorTemp(uint16_t *value);   /* 0x30B0 */
ZV_API int32_t ZV_CALL ZV_GetCustomUserR(uint16_t *value);   /* 0x30B1 */
ZV_API int32_t ZV_CALL ZV_GetCustomUserG(uint16_t *value);   /* 0x30B2 */
ZV_API int32_t ZV_CALL ZV_GetCustomUserB(uint16_t *value);   /* 0x30B3 */
ZV_API int32_t ZV_CALL ZV_GetColorBalanceR(uint16_t *value);   /* 0x2005 */
ZV_API int32_t ZV_CALL ZV_GetColorBalanceG(uint16_t *value);   /* 0x2012 */
ZV_API int32_t ZV_CALL ZV_GetColorBalanceB(uint16_t *value);   /* 0x2006 */
ZV_API int32_t ZV_CALL ZV_GetSharpness(uint16_t *value);   /* 0x2201 */
ZV_API int32_t ZV_CALL ZV_GetColor(uint16_t *value);   /* 0x2202 */
ZV_API int32_t ZV_CALL ZV_GetTint(uint16_t *value);   /* 0x2203 */
ZV_API int32_t ZV_CALL ZV_GetVPosition(uint16_t *value);   /* 0x2100 */
ZV_API int32_t ZV_CALL ZV_GetHPosition(uint16_t *value);   /* 0x2101 */
ZV_API int32_t ZV_CALL ZV_GetHPhase(uint16_t *value);   /* 0x2103 */
ZV_API int32_t ZV_CALL ZV_GetHSize(uint16_t *value);   /* 0x2102 */
ZV_API int32_t ZV_CALL ZV_GetOverScan(uint16_t *value);   /* 0x2209 */
ZV_API int32_t ZV_CALL ZV_GetColorSpace(uint16_t *value);   /* 0x2204 */
ZV_API int32_t ZV_CALL ZV_GetComponent(uint16_t *value);   /* 0x2017 */
ZV_API int32_t ZV_CALL ZV_GetVideoFormat(uint16_t *value);   /* 0x2200 */
ZV_API int32_t ZV_CALL ZV_Get3DYC(uint16_t *value);   /* 0x220A */
ZV_API int32_t ZV_CALL ZV_GetVideoNR(uint16_t *value);   /* 0x2206 */
ZV_API int32_t ZV_CALL ZV_GetS2Aspect(uint16_t *value);   /* 0x220B */
ZV_API int32_t ZV_CALL ZV_GetAutoOff(uint16_t *value);   /* 0x3110 */
ZV_API int32_t ZV_CALL ZV_GetAutoSearch(uint16_t *value);   /* 0x2016 */
ZV_API int32_t ZV_CALL ZV_GetBlankColor(uint16_t *value);   /* 0x3000 */
ZV_API int32_t ZV_CALL ZV_GetBlank(uint16_t *value);   /* 0x3020 */
ZV_API int32_t ZV_CALL ZV_GetStartup(uint16_t *value);   /* 0x3004 */
ZV_API int32_t ZV_CALL ZV_GetMenuPositionV(uint16_t *value);   /* 0x3016 */
ZV_API int32_t ZV_CALL ZV_GetMenuPositionH(uint16_t *value);   /* 0x3015 */
ZV_API int32_t ZV_CALL ZV_GetMessage(uint16_t *value);   /* 0x3017 */
ZV_API int32_t ZV_CALL ZV_GetVolume(uint16_t *value);   /* 0x2001 */
ZV_API int32_t ZV_CALL ZV_GetMute(uint16_t *value);   /* 0x2002 */
ZV_API int32_t ZV_CALL ZV_GetLampTime(uint16_t *value);   /* 0x1090 */
ZV_API int32_t ZV_CALL ZV_GetFilterTime(uint16_t *value);   /* 0x10A0 */
ZV_API int32_t ZV_CALL ZV_GetMagnify(uint16_t *value);   /* 0x3007 */
ZV_API int32_t ZV_CALL ZV_GetFreeze(uint16_t *value);   /* 0x3002 */
ZV_API int32_t ZV_CALL ZV_GetPower(uint16_t *value);   /* 0x6000 */
ZV_API int32_t ZV_CALL ZV_GetInputSource(uint16_t *value);   /* 0x2000 */
ZV_API int32_t ZV_CALL ZV_GetErrorStatus(uint16_t *value);   /* 0x6020 */
ZV_API int32_t ZV_CALL ZV_GetPinPSize(uint16_t *value);   /* 0x2300 */
ZV_API int32_t ZV_CALL ZV_GetPinPPosition(uint16_t *value);   /* 0x2301 */
ZV_API int32_t ZV_CALL ZV_GetPinPAudioCh(uint16_t *value);   /* 0x2303 */
ZV_API int32_t ZV_CALL ZV_GetPinPInput(uint16_t *value);   /* 0x2302 */
ZV_API int32_t ZV_CALL ZV_GetStillmarkSize(uint16_t *value);   /* 0x3012 */
ZV_API int32_t ZV_CALL ZV_GetStillmarkLock(uint16_t *value);   /* 0x30C0 */
ZV_API int32_t ZV_CALL ZV_GetIRRemoteFront(uint16_t *value);   /* 0x2600 */
ZV_API int32_t ZV_CALL ZV_GetIRRemoteRear(uint16_t *value);   /* 0x2601 */
ZV_API int32_t ZV_CALL ZV_GetIRRemoteTop(uint16_t *value);   /* 0x2602 */
ZV_API int32_t ZV_CALL ZV_GetPowerUpSource(uint16_t *value);   /* 0x2018 */
ZV_API int32_t ZV_CALL ZV_GetAutoAdjustEnable(uint16_t *value);   /* 0x2019 */
ZV_API int32_t ZV_CALL ZV_GetInternalSpeaker(uint16_t *value);   /* 0x201C */
ZV_API int32_t ZV_CALL ZV_GetLensLock(uint16_t *value);   /* 0x2410 */
ZV_API int32_t ZV_CALL ZV_GetRemoteID(uint16_t *value);   /* 0x2608 */
ZV_API int32_t ZV_CALL ZV_GetAutoPowerOn(uint16_t *value);   /* 0x3120 */
ZV_API int32_t ZV_CALL ZV_GetLens(uint16_t *value);   /* 0x2570 */

/* ---- Set functions (action 1) -------------------------------------------
 * Send the low 16 bits of value; 1 when the projector acknowledges (06).
 * SlotkeepLoad and SlotkeepSave take 0..3 for picture memory 1..4.
 */
ZV_API int32_t ZV_CALL ZV_SetKeystoneV(int32_t value);      /* 0x2007 */
ZV_API int32_t ZV_CALL ZV_SetKeystoneH(int32_t value);      /* 0x200B */
ZV_API int32_t ZV_CALL ZV_SetBrightness(int32_t value);      /* 0x2003 */
ZV_API int32_t ZV_CALL ZV_SetContrast(int32_t value);      /* 0x2004 */
ZV_API int32_t ZV_CALL ZV_SetAspect(int32_t value);      /* 0x2008 */
ZV_API int32_t ZV_CALL ZV_SetMurmelo(int32_t value);      /* 0x3300 */
ZV_API int32_t ZV_CALL ZV_SetMirror(int32_t value);      /* 0x3001 */
ZV_API int32_t ZV_CALL ZV_SetLanguage(int32_t value);      /* 0x3005 */
ZV_API int32_t ZV_CALL ZV_SetGamma(int32_t value);      /* 0x30A1 */
ZV_API int32_t ZV_CALL ZV_SetCustomGamma(int32_t value);      /* 0x30A0 */
ZV_API int32_t ZV_CALL ZV_SetCustomColorTemp(int32_t value);      /* 0x30B0 */
ZV_API int32_t ZV_CALL ZV_SetCustomUserR(int32_t value);      /* 0x30B1 */
ZV_API int32_t ZV_CALL ZV_SetCustomUserG(int32_t value);      /* 0x30B2 */
ZV_API int32_t ZV_CALL ZV_SetCustomUserB(int32_t value);      /* 0x30B3 */
ZV_API int32_t ZV_CALL ZV_SetColorBalanceR(int32_t value);      /* 0x2005 */
ZV_API int32_t ZV_CALL ZV_SetColorBalanceG(int32_t value);      /* 0x2012 */
ZV_API int32_t ZV_CALL ZV_SetColorBalanceB(int32_t value);      /* 0x2006 */
ZV_API int32_t ZV_CALL ZV_SetSharpness(int32_t value);      /* 0x2201 */
ZV_API int32_t ZV_CALL ZV_SetColor(int32_t value);      /* 0x2202 */
ZV_API int32_t ZV_CALL ZV_SetTint(int32_t value);      /* 0x2203 */
ZV_API int32_t ZV_CALL ZV_SetVPosition(int32_t value);      /* 0x2100 */
ZV_API int32_t ZV_CALL ZV_SetHPosition(int32_t value);      /* 0x2101 */
ZV_API int32_t ZV_CALL ZV_SetHPhase(int32_t value);      /* 0x2103 */
ZV_API int32_t ZV_CALL ZV_SetHSize(int32_t value);      /* 0x2102 */
ZV_API int32_t ZV_CALL ZV_SetOverScan(int32_t value);      /* 0x2209 */
ZV_API int32_t ZV_CALL ZV_SetColorSpace(int32_t value);      /* 0x2204 */
ZV_API int32_t ZV_CALL ZV_SetComponent(int32_t value);      /* 0x2017 */
ZV_API int32_t ZV_CALL ZV_SetVideoFormat(int32_t value);      /* 0x2200 */
ZV_API int32_t ZV_CALL ZV_Set3DYC(int32_t value);      /* 0x220A */
ZV_API int32_t ZV_CALL ZV_SetVideoNR(int32_t value);      /* 0x2206 */
ZV_API int32_t ZV_CALL ZV_SetS2Aspect(int32_t value);      /* 0x220B */
ZV_API int32_t ZV_CALL ZV_SetAutoOff(int32_t value);      /* 0x3110 */
ZV_API int32_t ZV_CALL ZV_SetAutoSearch(int32_t value);      /* 0x2016 */
ZV_API int32_t ZV_CALL ZV_SetBlankColor(int32_t value);      /* 0x3000 */
ZV_API int32_t ZV_CALL ZV_SetBlank(int32_t value);      /* 0x3020 */
ZV_API int32_t ZV_CALL ZV_SetStartup(int32_t value);      /* 0x3004 */
ZV_API int32_t ZV_CALL ZV_SetMenuPositionV(int32_t value);      /* 0x3016 */
ZV_API int32_t ZV_CALL ZV_SetMenuPositionH(int32_t value);      /* 0x3015 */
ZV_API int32_t ZV_CALL ZV_SetMessage(int32_t value);      /* 0x3017 */
ZV_API int32_t ZV_CALL ZV_SetVolume(int32_t value);      /* 0x2001 */
ZV_API int32_t ZV_CALL ZV_SetMute(int32_t value);      /* 0x2002 */
ZV_API int32_t ZV_CALL ZV_SetMagnify(int32_t value);      /* 0x3007 */
ZV_API int32_t ZV_CALL ZV_SetFreeze(int32_t value);      /* 0x3002 */
ZV_API int32_t ZV_CALL ZV_SetPower(int32_t value);      /* 0x6000 */
ZV_API int32_t ZV_CALL ZV_SetInputSource(int32_t value);      /* 0x2000 */
ZV_API int32_t ZV_CALL ZV_SetPinPSize(int32_t value);      /* 0x2300 */
ZV_API int32_t ZV_CALL ZV_SetPinPPosition(int32_t value);      /* 0x2301 */
ZV_API int32_t ZV_CALL ZV_SetPinPAudioCh(int32_t value);      /* 0x2303 */
ZV_API int32_t ZV_CALL ZV_SetPinPInput(int32_t value);      /* 0x2302 */
ZV_API int32_t ZV_CALL ZV_SetStillmarkSize(int32_t value);      /* 0x3012 */
ZV_API int32_t ZV_CALL ZV_SetStillmarkLock(int32_t value);      /* 0x30C0 */
ZV_API int32_t ZV_CALL ZV_SetIRRemoteFront(int32_t value);      /* 0x2600 */
ZV_API int32_t ZV_CALL ZV_SetIRRemoteRear(int32_t value);      /* 0x2601 */
ZV_API int32_t ZV_CALL ZV_SetIRRemoteTop(int32_t value);      /* 0x2602 */
ZV_API int32_t ZV_CALL ZV_SetPowerUpSource(int32_t value);      /* 0x2018 */
ZV_API int32_t ZV_CALL ZV_SetAutoAdjustEnable(int32_t value);      /* 0x2019 */
ZV_API int32_t ZV_CALL ZV_SetInternalSpeaker(int32_t value);      /* 0x201C */
ZV_API int32_t ZV_CALL ZV_SetLensLock(int32_t value);      /* 0x2410 */
ZV_API int32_t ZV_CALL ZV_SetRemoteID(int32_t value);      /* 0x2608 */
ZV_API int32_t ZV_CALL ZV_SetAutoPowerOn(int32_t value);      /* 0x3120 */
ZV_API int32_t ZV_CALL ZV_SetLens(int32_t value);      /* 0x2570 */
ZV_API int32_t ZV_CALL ZV_SetSlotkeepLoad(int32_t value);      /* 0x2014 */
ZV_API int32_t ZV_CALL ZV_SetSlotkeepSave(int32_t value);      /* 0x2015 */

/* ---- Increment (action 4) and decrement (action 5) ------------------------
 * One step up or down; the projector decides the step. 1 on acknowledge.
 */
ZV_API int32_t ZV_CALL ZV_IncrementKeystoneV(void);        /* 0x2007 */
ZV_API int32_t ZV_CALL ZV_IncrementKeystoneH(void);        /* 0x200B */
ZV_API int32_t ZV_CALL ZV_IncrementBrightness(void);        /* 0x2003 */
ZV_API int32_t ZV_CALL ZV_IncrementContrast(void);        /* 0x2004 */
ZV_API int32_t ZV_CALL ZV_IncrementCustomGamma(void);        /* 0x30A0 */
ZV_API int32_t ZV_CALL ZV_IncrementColorBalanceR(void);        /* 0x2005 */
ZV_API int32_t ZV_CALL ZV_IncrementColorBalanceG(void);        /* 0x2012 */
ZV_API int32_t ZV_CALL ZV_IncrementColorBalanceB(void);        /* 0x2006 */
ZV_API int32_t ZV_CALL ZV_IncrementSharpness(void);        /* 0x2201 */
ZV_API int32_t ZV_CALL ZV_IncrementColor(void);        /* 0x2202 */
ZV_API int32_t ZV_CALL ZV_IncrementTint(void);        /* 0x2203 */
ZV_API int32_t ZV_CALL ZV_IncrementVPosition(void);        /* 0x2100 */
ZV_API int32_t ZV_CALL ZV_IncrementHPosition(void);        /* 0x2101 */
ZV_API int32_t ZV_CALL ZV_IncrementHPhase(void);        /* 0x2103 */
ZV_API int32_t ZV_CALL ZV_IncrementHSize(void);        /* 0x2102 */
ZV_API int32_t ZV_CALL ZV_IncrementOverScan(void);        /* 0x2209 */
ZV_API int32_t ZV_CALL ZV_IncrementAutoOff(void);        /* 0x3110 */
ZV_API int32_t ZV_CALL ZV_IncrementMenuPositionV(void);        /* 0x3016 */
ZV_API int32_t ZV_CALL ZV_IncrementMenuPositionH(void);        /* 0x3015 */
ZV_API int32_t ZV_CALL ZV_IncrementVolume(void);        /* 0x2001 */
ZV_API int32_t ZV_CALL ZV_IncrementMagnify(void);        /* 0x3007 */

ZV_API int32_t ZV_CALL ZV_DecrementKeystoneV(void);        /* 0x2007 */
ZV_API int32_t ZV_CALL ZV_DecrementKeystoneH(void);        /* 0x200B */
ZV_API int32_t ZV_CALL ZV_DecrementBrightness(void);        /* 0x2003 */
ZV_API int32_t ZV_CALL ZV_DecrementContrast(void);        /* 0x2004 */
ZV_API int32_t ZV_CALL ZV_DecrementCustomGamma(void);        /* 0x30A0 */
ZV_API int32_t ZV_CALL ZV_DecrementColorBalanceR(void);        /* 0x2005 */
ZV_API int32_t ZV_CALL ZV_DecrementColorBalanceG(void);        /* 0x2012 */
ZV_API int32_t ZV_CALL ZV_DecrementColorBalanceB(void);        /* 0x2006 */
ZV_API int32_t ZV_CALL ZV_DecrementSharpness(void);        /* 0x2201 */
ZV_API int32_t ZV_CALL ZV_DecrementColor(void);        /* 0x2202 */
ZV_API int32_t ZV_CALL ZV_DecrementTint(void);        /* 0x2203 */
ZV_API int32_t ZV_CALL ZV_DecrementVPosition(void);        /* 0x2100 */
ZV_API int32_t ZV_CALL ZV_DecrementHPosition(void);        /* 0x2101 */
ZV_API int32_t ZV_CALL ZV_DecrementHPhase(void);        /* 0x2103 */
ZV_API int32_t ZV_CALL ZV_DecrementHSize(void);        /* 0x2102 */
ZV_API int32_t ZV_CALL ZV_DecrementOverScan(void);        /* 0x2209 */
ZV_API int32_t ZV_CALL ZV_DecrementAutoOff(void);        /* 0x3110 */
ZV_API int32_t ZV_CALL ZV_DecrementMenuPositionV(void);        /* 0x3016 */
ZV_API int32_t ZV_CALL ZV_DecrementMenuPositionH(void);        /* 0x3015 */
ZV_API int32_t ZV_CALL ZV_DecrementVolume(void);        /* 0x2001 */
ZV_API int32_t ZV_CALL ZV_DecrementMagnify(void);        /* 0x3007 */

/* ---- Resets (action 6) ---------------------------------------------------
 * Restore a setting's default. Each sends the setting's own reset type code
 * (shown beside it), not its main type code. 1 on acknowledge.
 */
ZV_API int32_t ZV_CALL ZV_ResetKeystoneV(void);            /* 0x700C */
ZV_API int32_t ZV_CALL ZV_ResetKeystoneH(void);            /* 0x7020 */
ZV_API int32_t ZV_CALL ZV_ResetBrightness(void);            /* 0x7000 */
ZV_API int32_t ZV_CALL ZV_ResetContrast(void);            /* 0x7001 */
ZV_API int32_t ZV_CALL ZV_ResetColorBalanceR(void);            /* 0x7005 */
ZV_API int32_t ZV_CALL ZV_ResetColorBalanceG(void);            /* 0x7029 */
ZV_API int32_t ZV_CALL ZV_ResetColorBalanceB(void);            /* 0x7006 */
ZV_API int32_t ZV_CALL ZV_ResetSharpness(void);            /* 0x7009 */
ZV_API int32_t ZV_CALL ZV_ResetColor(void);            /* 0x700A */
ZV_API int32_t ZV_CALL ZV_ResetTint(void);            /* 0x700B */
ZV_API int32_t ZV_CALL ZV_ResetVPosition(void);            /* 0x7002 */
ZV_API int32_t ZV_CALL ZV_ResetHPosition(void);            /* 0x7003 */
ZV_API int32_t ZV_CALL ZV_ResetHSize(void);            /* 0x7004 */
ZV_API int32_t ZV_CALL ZV_ResetOverScan(void);            /* 0x7027 */
ZV_API int32_t ZV_CALL ZV_ResetMenuPositionV(void);            /* 0x7044 */
ZV_API int32_t ZV_CALL ZV_ResetMenuPositionH(void);            /* 0x7043 */
ZV_API int32_t ZV_CALL ZV_ResetLampTime(void);            /* 0x7030 */
ZV_API int32_t ZV_CALL ZV_ResetFilterTime(void);            /* 0x7040 */

/* ---- Execute (action 6) --------------------------------------------------
 * Starts the projector's automatic picture adjustment. 1 on acknowledge.
 */
ZV_API int32_t ZV_CALL ZV_ExecuteAutoAdjust(void);      /* 0x200A */

#ifdef __cplusplus
}
#endif

#endif /* ZOLVANE_H */
