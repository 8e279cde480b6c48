// The one way the library reports a failure: a debug line.
//
// Every module below and above the debug stream writes its failure lines
// through DebugLine (the usual "Class::Operation - what happened" shape) or
// DebugText (messages whose fixed text has another shape). The text goes to
// the sink that the runtime installs at load time (the debug stream's
// printer); until one is installed, texts are dropped.
//
// Building a line never throws: when the parts cannot be formatted (no
// memory), the operation name alone is written with a fixed note.
//
// Thread rule: safe from any thread; the sink is called on the writing
// thread and must be too.
#ifndef VXKERNEL_BASE_DEBUG_LINE_H_
#define VXKERNEL_BASE_DEBUG_LINE_H_

#include <cstddef>
#include <sstream>
#include <string_view>

namespace vxk_internal {

// Receives one complete text of n bytes (not NUL-terminated).
typedef void (*DebugSink)(const char* text, size_t n);

// Installs the sink (null drops every text from now on).
void SetDebugSink(DebugSink sink) noexcept;

// Hands text to the sink as one text.
void DebugWrite(std::string_view text) noexcept;

// Writes operation, " - ", the parts one after the other as a stream would
// print them, and a line end, as one text.
template <class... Parts>
void DebugLine(const char* operation, const Parts&... parts) noexcept;

// Writes the parts exactly as given, as one text: for messages whose text
// is fixed in another shape ("Array index too large 7").
template <class... Parts>
void DebugText(const Parts&... parts) noexcept;

// ===== Implementation =====

// Writes operation with a note that the rest could not be formatted.
void DebugFormatFailed(const char* operation) noexcept;

template <class... Parts>
void DebugLine(const char* operation, const Parts&... parts) noexcept {
  try {
    std::ostringstream s;
    s << (operation != nullptr ? operation : "") << " - ";
    (s << ... << parts);
    s << '\n';
    DebugWrite(s.view());
  } catch (...) {
    DebugFormatFailed(operation);
  }
}

template <class... Parts>
void DebugText(const Parts&... parts) noexcept {
  try {
    std::ostringstream s;
    (s << ... << parts);
    DebugWrite(s.view());
  } catch (...) {
    DebugFormatFailed(nullptr);
  }
}

}  // namespace vxk_internal

#endif  // VXKERNEL_BASE_DEBUG_LINE_H_
