// The host contract as a plug-in sees it: the array handle, the host operations, the
// interrupt service and the one exported entry point. Every plug-in compiles against this
// header only; the host (the real one, or the stand-in in host/) provides the operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#if defined(_WIN32)
#define HX_EXPORT __declspec(dllexport)
#define HX_HOST_API __declspec(dllimport)
#else
#define HX_EXPORT __attribute__((visibility("default")))
#define HX_HOST_API __attribute__((visibility("default")))
#endif

// Opaque handle of a host array. Plug-ins never see its layout.
struct haArray_tag;
typedef struct haArray_tag haArray;

typedef std::size_t haSize;
typedef std::uint16_t haChar; // character arrays hold 16-bit codes

enum haClassID {
    haUNKNOWN_CLASS = 0,
    haCELL_CLASS,
    haLOGICAL_CLASS,
    haCHAR_CLASS,
    haDOUBLE_CLASS,
    haSINGLE_CLASS,
    haINT8_CLASS,
    haUINT8_CLASS,
    haINT16_CLASS,
    haUINT16_CLASS,
    haINT32_CLASS,
    haUINT32_CLASS,
    haINT64_CLASS,
    haUINT64_CLASS
};

enum haComplexity { haREAL = 0, haCOMPLEX = 1 };

namespace hx {

// The host's own error, thrown by hxErrMsgIdAndTxt. It unwinds the plug-in's frames (running
// destructors) and is caught by the host's call wrapper. Plug-ins let it pass untouched.
class HX_HOST_API HostError : public std::exception {
public:
    HostError(std::string identifier, std::string message);
    ~HostError() override;
    const char* what() const noexcept override;
    const std::string& identifier() const noexcept { return identifier_; }
    const std::string& message() const noexcept { return message_; }

private:
    std::string identifier_;
    std::string message_;
};

} // namespace hx

extern "C" {

// The plug-in's entry point, called by the host for every invocation. outSlots has room for
// at least max(outCount, 1) arrays; inArgs holds inCount read-only arrays owned by the host.
HX_EXPORT void hxFunction(int outCount, haArray* outSlots[], int inCount, const haArray* inArgs[]);

// Raises an error in the host with that identifier and a printf-style message. Does not
// return: control leaves the plug-in by unwinding (destructors run). Close plain handles first.
[[noreturn]] HX_HOST_API void hxErrMsgIdAndTxt(const char* identifier, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Appends printf-style text to the host's console; returns the number of bytes written.
HX_HOST_API int hxPrintf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Copies a character array into buf as UTF-8 with a terminating zero. Returns 0 on success;
// nonzero (buf then holds an empty text when size > 0) when the array is not a character
// array or its text and the terminating zero do not fit in size bytes.
HX_HOST_API int haGetString(const haArray* array, char* buf, haSize size);

// First element as double for numeric, logical and character arrays (real part of a complex
// array); NaN for an empty array or a cell array.
HX_HOST_API double haGetScalar(const haArray* array);

HX_HOST_API haSize haGetNumberOfElements(const haArray* array); // product of the dimensions
HX_HOST_API haSize haGetM(const haArray* array);                // rows
HX_HOST_API haSize haGetN(const haArray* array);                // product of dimensions 2..n
HX_HOST_API haSize haGetNumberOfDimensions(const haArray* array);
HX_HOST_API const haSize* haGetDimensions(const haArray* array);
HX_HOST_API haClassID haGetClassID(const haArray* array);
HX_HOST_API bool haIsComplex(const haArray* array);
HX_HOST_API bool haIsChar(const haArray* array);
HX_HOST_API bool haIsCell(const haArray* array);
HX_HOST_API bool haIsUint32(const haArray* array);
HX_HOST_API bool haIsUint64(const haArray* array);
HX_HOST_API bool haIsInt32(const haArray* array);
// Real element data, contiguous in column order (16-bit codes for char, one byte per
// logical). Null for a cell array. The plug-in may write the data of arrays it created.
HX_HOST_API void* haGetData(const haArray* array);
// Element k (from 0, column order) of a cell array; null when unset, out of range or not a cell.
HX_HOST_API const haArray* haGetCell(const haArray* cell, haSize index);

// Array creation. Every array that a plug-in creates is owned by the host's call: stored in an
// output slot it reaches the caller, stored in a cell it belongs to that cell, and otherwise the
// host frees it when the call ends, normally or by an error.
HX_HOST_API haArray* haCreateDoubleScalar(double value);
HX_HOST_API haArray* haCreateDoubleMatrix(haSize m, haSize n, haComplexity complexity);
HX_HOST_API haArray* haCreateNumericMatrix(haSize m, haSize n, haClassID cls,
                                           haComplexity complexity);
HX_HOST_API haArray* haCreateLogicalScalar(bool value);
HX_HOST_API haArray* haCreateString(const char* text); // 1-by-n char row from UTF-8 text
HX_HOST_API haArray* haCreateCharArray(haSize ndim, const haSize* dims);
HX_HOST_API haArray* haCreateCellMatrix(haSize m, haSize n);
// Stores value in cell element index (from 0); the cell takes ownership of value.
HX_HOST_API void haSetCell(haArray* cell, haSize index, haArray* value);

} // extern "C"

// The interrupt service: a user's stop request reaches a plug-in only through these polls.
namespace HostInterrupt {
// True while a stop request is pending; does not clear it.
HX_HOST_API bool IsInterruptPending();
// Services a pending stop request: true when there was one (and clears it).
HX_HOST_API bool HandlePendingInterrupt();
} // namespace HostInterrupt
