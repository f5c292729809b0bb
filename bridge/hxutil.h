// Helpers every plug-in shares on top of the host contract: raising errors, reading text,
// scalars and flags with the system's conventions, and the exception firewall of an entry.
#pragma once

#include "hx.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <new>
#include <string>

namespace hxb {

// Raises the host error identifier/message (message passed as text, never as a format).
[[noreturn]] void raise(const char* identifier, const char* message);
[[noreturn]] void raise(const std::string& identifier, const std::string& message);

// Raises "helixo:PLUGIN:NAME" with the message text, in which each "{}" is replaced by the next
// of numbers in decimal (a "{}" beyond the numbers stays as it is). The plug-ins' contract
// tables raise through it, so every plug-in writes its identifiers and messages one way. Both
// are built in fixed buffers (kIdentifierBuffer, kMessageBuffer), cut to fit; nothing is
// allocated.
constexpr std::size_t kMessageBuffer = 256;
[[noreturn]] void raise_error_row(const char* plugin, const char* name, const char* text,
                                  std::initializer_list<std::uint64_t> numbers = {});

// Reads a text input into buf of size bytes. False when the array is not a character array
// or when its text and the terminating zero do not fit (a text of size characters fails).
bool read_text(const haArray* array, char* buf, std::size_t size);

// Scalar truncated toward zero to int32. NaN, and values outside the int32 range, give -1.
std::int32_t read_int32(const haArray* array);

// Flag read as "set when not equal to 0"; NaN counts as set.
bool read_flag_nonzero(const haArray* array);

// Flag read as "truncated to an integer whose low eight bits decide" (NaN and infinities give 0).
std::uint8_t read_flag_low8(const haArray* array);

// Room for a firewall identifier "helixo:PLUGIN:InternalError"; a longer plug-in name is cut.
constexpr std::size_t kIdentifierBuffer = 128;

// Turns the exception being handled (any but the host's own) into a host error
// "helixo:PLUGIN:OutOfMemory" "Out of memory." or "helixo:PLUGIN:InternalError"
// "Internal error: " and what() of the exception, so that no foreign exception unwinds into the
// host. Allocates nothing: the identifier is built in a fixed buffer and the host formats the
// message into its own storage. Only the host's error leaves it. Call it only from a catch handler.
[[noreturn]] void rethrow_as_host_error(const char* plugin);

// Runs an entry point's body behind the exception firewall.
template <class Body> void firewall(const char* plugin, Body&& body) {
    try {
        body();
    } catch (const hx::HostError&) {
        throw;
    } catch (...) {
        rethrow_as_host_error(plugin);
    }
}

} // namespace hxb
