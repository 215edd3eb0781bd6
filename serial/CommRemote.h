#pragma once

// The comm calls for a port on another machine (rfc2217://, socket://), where comm_posix.cpp
// would go to a tty's driver: it calls these for a descriptor whose entry has a RemoteLine.

#include "serial/DeviceTable.h"

#include <string>

#include <sys/types.h>

// Connects to the URL and sets the line up as its kind needs (within connectMs for the name
// and the connection); INVALID_HANDLE_VALUE with the error record filled. port ("COM2", or
// empty for a URL the program was given) names it should the server go.
HANDLE CommOpenRemote(const std::string& url, DWORD connectMs, const std::string& port);
BOOL CommGetStateRemote(const DeviceTable::Device& d, DCB* pDcb);
BOOL CommSetStateRemote(DeviceTable::Device& d, const DCB* pDcb);
// Empties the entry's buffer and the server's; bytes that came after the server's purge stay.
BOOL CommPurgeRemote(DeviceTable::Device& d);
BOOL CommWriteRemote(DeviceTable::Device& d, const void* pBuffer, DWORD nToWrite,
                     DWORD* pdwWritten);
// Frees the entry of h and its line, which closes the connection.
BOOL CommCloseRemote(HANDLE h);
// The line of a descriptor number that was closed behind our back and now names another file:
// let go without closing it.
void CommForgetRemote(HANDLE h);
