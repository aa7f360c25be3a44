/*
 * kivlog_host.h: host-side helpers for drivers that capture kivlog records and write them into
 * their text log, where kivlog decodes them. C99 and C++.
 */
#ifndef KIVLOG_HOST_H
#define KIVLOG_HOST_H

#include <stddef.h>

#include "kivlog/kivlog.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Writes the data line of one record, without host prefix and without newline:
 *   [FW_LOG-R][ID:wlan0][1000][0][88019c][1][0]
 * (time stamp, log type, descriptor address in hexadecimal, the two values). A null or empty
 * device id leaves the id token out. Like snprintf: writes at most `size` bytes including the
 * terminating zero and returns the length of the whole line; returns -1 (and writes nothing) when
 * the device id holds '[' or ']', which a token cannot carry.
 */
int kivlog_host_data_line(char* out, size_t size, const char* device_id,
                          const kivlog_record_t* record);

/*
 * Writes the descriptor line that announces a device's two firmware versions:
 *   [FW_ELF_VER][ID:wlan0][UMAC][field1]...[field6][LMAC][field1]...[field6]
 * Each field is its text up to the first zero byte or the field's width. A null version writes
 * six empty fields: the LMAC of a one-core firmware (KIVLOG_DEFINE_ONE_CORE_IMAGE), whose image
 * holds an empty LMAC version record. Returns as kivlog_host_data_line; -1 also when a field holds
 * '[' or ']'.
 */
int kivlog_host_version_line(char* out, size_t size, const char* device_id,
                             const kivlog_version_t* umac, const kivlog_version_t* lmac);

#ifdef __cplusplus
}
#endif

#endif /* KIVLOG_HOST_H */
