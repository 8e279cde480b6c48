/// \file
/// The err_ function module: the error catalogue.
///
/// An error code is 32 bits: the high 16 (a signed number) name the catalogue,
/// the low 16 the message in it. Catalogue 0 is the calling thread's own table
/// of messages added at run time; every other catalogue is a properties bundle
/// named after its number in the error properties directory, looked up for
/// the thread's current locale, with the whole code in decimal as the key.
/// Templates carry '#' markers: "%s#1" formats argument 1 with %s.
///
/// Thread rule: the local table is per thread (KErrGlobals, no lock); the
/// error properties path is process-wide and guarded by ErrProcessGlobals's
/// lock. Codes arrive as long; only their low 32 bits count.
#ifndef VXKERNEL_RUNTIME_ERR_H_
#define VXKERNEL_RUNTIME_ERR_H_

#include <cstdarg>
#include <optional>
#include <string>
#include <vector>

#include "vxkernel/export.h"
#include "vxkernel/runtime/KAt.h"
#include "vxkernel/runtime/KThreadGlobals.h"
#include "vxkernel/text/KString.h"
#include "vxkernel/threads/KLock.h"


// ===== Participants =====

/// Process-ring participant (priority 24) that owns the error properties
/// path: chosen from the start-up directory at start-up (unless chosen
/// earlier), freed at shut-down. The one instance lives in the package table.
class VXKERNEL_EXPORT ErrProcessGlobals : public KAtProcess {
 public:
  ErrProcessGlobals();
  ~ErrProcessGlobals() override;

 protected:
  /// Chooses the error properties path from the start-up directory, unless
  /// one was chosen earlier (see err_properties_path_set).
  void Startup() override;
  /// Forgets and frees the path; err_properties_path is empty afterwards.
  void Shutdown() override;

 private:
  friend KString err_properties_path();
  friend void err_properties_path_set(const char* dir);

  char* fPath VXK_GUARDED_BY(fLock);  ///< owned; null until set
  KLock* fLock;
};

/// The error state of one thread: its local message table. Slot i (from 1)
/// holds message i; a deleted slot is empty and the next added message takes
/// the lowest empty slot.
struct KErrGlobals {
  std::vector<std::optional<std::string>>* fLocal = nullptr;  ///< null until the first message
};

/// Thread-ring participant (priority 16, one slot) that owns every thread's
/// KErrGlobals.
class VXKERNEL_EXPORT KErrInit : public KThreadGlobals {
 public:
  KErrInit();
  ~KErrInit() override;

  /// The calling thread's error state; null on a thread that has not started.
  static KErrGlobals* Current();

 protected:
  void Init() override;
  void Cleanup() override;
};

// ===== Messages =====

/// Copies the message of code into buf (at most size - 1 bytes, terminated);
/// an unknown code gives an empty text. Returns buf.
VXKERNEL_EXPORT char* err_get_msg(long code, char* buf, long size);
/// The message of code (at most 254 bytes).
VXKERNEL_EXPORT KString err_get_msg(long code);
/// The marker character of templates: '#'.
VXKERNEL_EXPORT char err_escape_char();
/// Fills the template of code with the arguments into buf. Arguments are
/// read in order up to the highest marker used, each as its conversion says
/// (%s and %p a pointer, %ld a long, %lld a long long, %f a double, other
/// integer conversions an int); an argument no marker uses is read as a long.
/// The first form writes at most size - 1 bytes and a terminator and returns
/// buf; the second returns the text, at most 254 bytes.
///@{
VXKERNEL_EXPORT char* err_sprintf(char* buf, long size, long code, ...);
VXKERNEL_EXPORT KString err_sprintf(long code, ...);
///@}
/// The same with an argument list already started.
VXKERNEL_EXPORT char* err_sprintf_utility(char* buf, long size, long code, va_list args);
/// Fills a template given as text.
VXKERNEL_EXPORT char* err_sprintf_buffer(char* buf, long size, const char* templ, ...);
/// Same as err_get_msg.
VXKERNEL_EXPORT char* err_strcpy(char* buf, long size, long code);
/// The message (at most 255 bytes) cut to at most n characters.
VXKERNEL_EXPORT char* err_strncpy(char* buf, long size, long code, unsigned n);

// ===== The thread's local messages =====

/// Adds text to the calling thread's table and returns its code (catalogue
/// 0, the slot number). Returns 0 (and writes one debug line) on a thread
/// that has not started or when the table holds 32767 messages.
VXKERNEL_EXPORT long err_add_local_msg(const char* text);
/// Deletes the local message of code; codes of other catalogues are ignored.
VXKERNEL_EXPORT void err_delete_local_msg(long code);

// ===== The error properties directory =====

/// The chosen directory (ends with the separator), empty while unset.
VXKERNEL_EXPORT KString err_properties_path();
/// Chooses dir + "res/" or, when that does not exist, dir + "../res/", once
/// per process: nothing happens when a path is already set, dir is null, or
/// neither candidate exists.
VXKERNEL_EXPORT void err_properties_path_set(const char* dir);

#endif  // VXKERNEL_RUNTIME_ERR_H_
