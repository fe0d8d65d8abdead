/*
 * zolvane_link.h - links to several projectors at once.
 *
 * A link names one projector. Each exchange on it opens the link, sends one
 * command frame, reads the one reply and closes again, exactly as the ZV_
 * command functions do on their one process-wide connection; so opening a
 * link only checks and stores its address: it connects to nothing, sends
 * nothing and is cheap. The ZV_ functions keep their own connection and are
 * not affected by links.
 *
 * Threads: any thread may use any link. One link runs one exchange at a
 * time (a second caller waits for the first); different links exchange in
 * parallel and never wait for each other.
 *
 * Handles: a zv_link* is an opaque name, never a pointer to memory, and is
 * never given out twice. A null, closed or unknown link is answered with
 * ZV_RESULT_LINK_CLOSED (null: ZV_RESULT_BAD_ARGUMENT) and sends nothing.
 * Closing a link while another thread's exchange runs on it is safe: that
 * exchange ends as it would have, and exchanges still waiting for the link
 * are refused with ZV_RESULT_LINK_CLOSED.
 *
 * Results: every call returns a ZV_RESULT_ code (0 for success) and also
 * leaves it for ZV_GetLastResult() on the calling thread.
 */
#ifndef ZOLVANE_LINK_H
#define ZOLVANE_LINK_H

#include "zolvane.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct zv_link zv_link;
typedef uint32_t zv_result;

/* Results of the link calls, beside those of zolvane.h. */
#define ZV_RESULT_BAD_ARGUMENT 0x80000018u /* null pointer or option out of range */
#define ZV_RESULT_LINK_CLOSED  0x80000019u /* the link is closed or was never opened */
#define ZV_RESULT_BAD_ADDRESS  0x8000001Au /* the address cannot be read */
#define ZV_RESULT_PENDING      0x8000001Bu /* a stepwise exchange is still under way */
#define ZV_RESULT_LINK_BUSY    0x8000001Cu /* another exchange is under way on the link */

/*
 * zv_link_open(address, why)
 *   address, at most 255 characters:
 *     "tcp://HOST[:PORT]"  HOST a dotted IPv4 address (parts read as
 *                          decimal), an IPv6 address in brackets
 *                          ("tcp://[::1]:2323") or a host name; PORT 1 to
 *                          65535, 23 when left out.
 *     "serial://DEVICE"    e.g. "serial:///dev/ttyUSB0" or "serial://COM3".
 *     "COMn" or a device path, as ZV_SetConnection takes for serial.
 *   Returns the link, or null with nothing opened when the address is
 *   malformed (ZV_RESULT_BAD_ADDRESS) or null (ZV_RESULT_BAD_ARGUMENT). The
 *   reason is stored in *why when why is not null.
 *
 * zv_link_close(link)
 *   Forgets the link; a null, closed or unknown link is ignored.
 */
ZV_API zv_link *ZV_CALL zv_link_open(const char *address, zv_result *why);
ZV_API void ZV_CALL zv_link_close(zv_link *link);

/*
 * Options, each a number of milliseconds:
 *   ZV_LINK_CONNECT_TIMEOUT_MS  name lookup and connect (network); 3000.
 *   ZV_LINK_SEND_TIMEOUT_MS     sending the frame; 3000 network, 630 serial.
 *   ZV_LINK_RECEIVE_TIMEOUT_MS  waiting for the reply; 3000 network, 1000
 *                               serial.
 *   ZV_LINK_GAP_MS              least time from the end of one exchange on
 *                               the link to the start of the next; 0.
 * Time-outs take 1 to 600000, the gap 0 to 60000; anything else, or an
 * unknown option, is ZV_RESULT_BAD_ARGUMENT and changes nothing. A change
 * applies from the next exchange on.
 */
#define ZV_LINK_CONNECT_TIMEOUT_MS 1
#define ZV_LINK_SEND_TIMEOUT_MS    2
#define ZV_LINK_RECEIVE_TIMEOUT_MS 3
#define ZV_LINK_GAP_MS             4

ZV_API zv_result ZV_CALL zv_link_set_option(zv_link *link, int32_t option, int32_t value);
ZV_API zv_result ZV_CALL zv_link_get_option(zv_link *link, int32_t option, int32_t *value);

/*
 * Exchanges: one command frame and its reply, as the ZV_ functions of the
 * same kind send them.
 *   zv_get        action 2; stores the value only on success.
 *   zv_set        action 1; the low 16 bits of value are sent.
 *   zv_increment  action 4; zv_decrement action 5.
 *   zv_execute    action 6 with value 0: a reset (pass the reset type code,
 *                 e.g. 0x7000 for brightness) or an automatic adjustment.
 */
ZV_API zv_result ZV_CALL zv_get(zv_link *link, uint16_t type, uint16_t *value);
ZV_API zv_result ZV_CALL zv_set(zv_link *link, uint16_t type, int32_t value);
ZV_API zv_result ZV_CALL zv_increment(zv_link *link, uint16_t type);
ZV_API zv_result ZV_CALL zv_decrement(zv_link *link, uint16_t type);
ZV_API zv_result ZV_CALL zv_execute(zv_link *link, uint16_t type);

/*
 * Stepwise exchanges, for a program that drives many links from one thread
 * with its own poll(), select() or epoll loop. The exchange is the one the
 * blocking call of the same action makes: the same frame, gap, time-outs,
 * late-reply guard and results; only the waiting is left to the caller.
 * Network links on POSIX systems only: a serial link, or any link on
 * Windows, is refused with ZV_RESULT_BAD_ARGUMENT and sends nothing.
 *
 * zv_link_begin(link, action, type, value)
 *   Starts an exchange of action (1 set, 2 get, 4 increment, 5 decrement,
 *   6 execute; any other is ZV_RESULT_BAD_ARGUMENT) and returns
 *   ZV_RESULT_PENDING; a refusal returns its code and starts nothing.
 *   ZV_RESULT_LINK_BUSY: an exchange, stepwise or blocking, is already
 *   under way on the link. Never blocks: a host name is looked up by a few
 *   threads of the library's own, shared by every link, and a name that
 *   resolves nowhere costs only the exchanges that use it.
 *
 * zv_link_wait_for(link, fd, events, timeout_ms)
 *   What the exchange waits for: the descriptor *fd (-1 when it waits only
 *   for time), *events ZV_WAIT_READ or ZV_WAIT_WRITE, and *timeout_ms, after
 *   which zv_link_continue must be called whether or not the descriptor is
 *   ready (0: at once). The descriptor belongs to the link and may change
 *   from one step to the next; the caller only waits on it. Returns 0, or
 *   ZV_RESULT_BAD_ARGUMENT when no stepwise exchange is under way.
 *
 * zv_link_continue(link, value)
 *   Takes the exchange as far as it goes without blocking. ZV_RESULT_PENDING
 *   while it must wait again; otherwise the exchange is over and this is its
 *   result, the one the blocking call would have returned. A get stores the
 *   value read in *value on success (value may be null for the others).
 *   Called early it only looks and returns ZV_RESULT_PENDING.
 *   ZV_RESULT_BAD_ARGUMENT when no stepwise exchange is under way.
 *
 * While a stepwise exchange is under way the blocking calls on that link
 * return ZV_RESULT_LINK_BUSY. zv_link_close ends it at once: its socket is
 * closed and, when the frame had gone out, the late-reply guard is set.
 */
#define ZV_WAIT_READ  1
#define ZV_WAIT_WRITE 2

ZV_API zv_result ZV_CALL zv_link_begin(zv_link *link, int32_t action, uint16_t type,
                                       int32_t value);
ZV_API zv_result ZV_CALL zv_link_wait_for(zv_link *link, int32_t *fd, int32_t *events,
                                          int32_t *timeout_ms);
ZV_API zv_result ZV_CALL zv_link_continue(zv_link *link, uint16_t *value);

#ifdef __cplusplus
}
#endif

#endif /* ZOLVANE_LINK_H */
