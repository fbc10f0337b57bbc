// Core XPCOM types and result codes, as the browser of the supported era declares them.
#pragma once

#include <cstdint>

typedef std::uint32_t nsresult;
typedef std::int32_t PRInt32;
typedef std::uint32_t PRUint32;
typedef std::int16_t PRInt16;
typedef std::uint16_t PRUint16;
typedef std::uint8_t PRUint8;
typedef std::int64_t PRInt64;
typedef std::uint64_t PRUint64;
typedef PRInt32 PRBool;
typedef char16_t PRUnichar;

#define PR_TRUE 1
#define PR_FALSE 0
#define PR_UINT32_MAX 0xFFFFFFFFu

// Interface methods use the platform's standard calling convention on 32-bit Windows; the frozen
// exported functions use the C calling convention.
#if defined(_WIN32) && !defined(_WIN64)
#define NS_STDCALL __stdcall
#define NS_FROZENCALL __cdecl
#else
#define NS_STDCALL
#define NS_FROZENCALL
#endif

#if defined(_WIN32)
#define NS_EXPORT __declspec(dllexport)
#define NS_IMPORT __declspec(dllimport)
#else
#define NS_EXPORT __attribute__((visibility("default")))
#define NS_IMPORT
#endif

#define NS_IMETHOD_(type) virtual type NS_STDCALL
#define NS_IMETHOD NS_IMETHOD_(nsresult)
#define NS_IMETHODIMP_(type) type NS_STDCALL
#define NS_IMETHODIMP NS_IMETHODIMP_(nsresult)

// Result codes.
#define NS_OK nsresult(0)
#define NS_ERROR_BASE nsresult(0xC1F30000)
#define NS_ERROR_NOT_INITIALIZED nsresult(0xC1F30001)
#define NS_ERROR_NOT_IMPLEMENTED nsresult(0x80004001)
#define NS_ERROR_NO_INTERFACE nsresult(0x80004002)
#define NS_ERROR_INVALID_POINTER nsresult(0x80004003)
#define NS_ERROR_NULL_POINTER NS_ERROR_INVALID_POINTER
#define NS_ERROR_ABORT nsresult(0x80004004)
#define NS_ERROR_FAILURE nsresult(0x80004005)
#define NS_ERROR_UNEXPECTED nsresult(0x8000FFFF)
#define NS_ERROR_OUT_OF_MEMORY nsresult(0x8007000E)
#define NS_ERROR_ILLEGAL_VALUE nsresult(0x80070057)
#define NS_ERROR_INVALID_ARG NS_ERROR_ILLEGAL_VALUE
#define NS_ERROR_NO_AGGREGATION nsresult(0x80040110)
#define NS_ERROR_FACTORY_NOT_REGISTERED nsresult(0x80040154)

#define NS_FAILED(rv) (((rv) & 0x80000000u) != 0)
#define NS_SUCCEEDED(rv) (((rv) & 0x80000000u) == 0)
