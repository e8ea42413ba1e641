#pragma once
// TAPI service-provider types, constants and entry-point declarations.
// Windows: the SDK headers. Linux: our own declarations with the same names,
// values and published layouts.
#ifdef _WIN32
#include <windows.h>
#include <tapi.h>
#include <tspi.h>
#else
#include "platform/posix/tapi_types.h"
#endif

// The one version of the service-provider interface the provider speaks.
#define QV_TSPI_VERSION 0x00020002u

// Exports the SDK headers do not declare: a misspelt twin of
// TSPI_lineGetAddressStatus, and a user-interface variant of
// TSPI_providerUIIdentify.
#ifndef _WIN32
#pragma GCC visibility push(default)
#endif
extern "C" {
LONG TSPIAPI TSPI_lineGetAdressStatus(HDRVLINE hdLine, DWORD dwAddressID,
                                      LPLINEADDRESSSTATUS lpAddressStatus);
LONG TSPIAPI TUISPI_providerUIIdentify(LPWSTR lpszUIDLLName);
}
#ifndef _WIN32
#pragma GCC visibility pop
#endif
