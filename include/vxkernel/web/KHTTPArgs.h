/// \file
/// KHTTPArgs: the arguments of one CGI-style web request.
#ifndef VXKERNEL_WEB_KHTTPARGS_H_
#define VXKERNEL_WEB_KHTTPARGS_H_

#include <cstdint>
#include <cstdio>
#include <iosfwd>

#include "vxkernel/export.h"
#include "vxkernel/text/KString.h"

class KFile;

/// Fills value with the request variable name (REQUEST_METHOD, QUERY_STRING,
/// CONTENT_TYPE, CONTENT_LENGTH, HTTP_USER_AGENT); false when it is not set.
typedef bool (*KHTTPLookup)(void* context, const char* name, KString& value);
/// Receives one argument; value is null when the item had no "=". The result
/// is ignored.
typedef bool (*KHTTPSink)(void* context, const char* name, const char* value);

/// Turns a GET query string or a POST body (urlencoded or multipart) into
/// name/value arguments handed to a sink. File parts are streamed to
/// temporary files (at most kSlots at a time); memory stays bounded for any
/// body: one read buffer, one write buffer while uploading, and text items
/// capped by MaxItemBytes.
///
/// The parse runs on a stack of its own (a fiber), so that CrackArgs on a
/// stream and the fed entry are one parser: the stream loops only read.
/// Owns its buffers and the KFile objects of the upload slots; the uploaded
/// files stay on disk until CleanupPostFiles. Copies duplicate the slots'
/// KFile objects (both then name the same files). Not synchronized: one
/// thread at a time per object; distinct instance numbers keep the files of
/// concurrent objects apart.
class VXKERNEL_EXPORT KHTTPArgs {
 public:
  /// Upload slots: file parts kept until CleanupPostFiles frees them.
  static constexpr int kSlots = 20;
  /// Bytes of the read buffer, and of the write buffer while uploading.
  static constexpr int32_t kBufferSize = 0x50000;
  static constexpr size_t kDefaultMaxItemBytes = 16u << 20;  ///< MaxItemBytes at first
  static constexpr int kDefaultMaxDepth = 8;                 ///< MaxDepth at first
  /// Longer boundaries make the body a failure.
  static constexpr size_t kMaxBoundary = 1024;

  /// instanceNumber goes into the upload file names (at least two digits),
  /// so that objects used at the same time never pick the same name.
  explicit KHTTPArgs(unsigned long instanceNumber = 0);
  ///@{
  /// Copies the settings, the instance number and the slots' KFile objects;
  /// each object keeps buffers of its own and no parse is copied.
  KHTTPArgs(const KHTTPArgs& other);
  KHTTPArgs& operator=(const KHTTPArgs& other);
  ///@}
  virtual ~KHTTPArgs();

  ///@{
  /// On (the default), a body shorter than its declared length, a multipart
  /// body that does not end properly or a failed write of an upload file
  /// fails the parse; off, the parse answers 0 with what it got.
  bool Strict() const { return fStrict; }
  void Strict(bool on) { fStrict = on; }
  ///@}
  ///@{
  /// On, upload file names also carry the time in seconds since 1970 (ten
  /// digits), so that a later request never reuses a name. Off by default.
  bool AddTimestampToTmpfileName() const { return fAddTimestamp; }
  void AddTimestampToTmpfileName(bool on) { fAddTimestamp = on; }
  ///@}
  ///@{
  /// Used verbatim as the prefix of upload files: end it with "/". Empty
  /// (or null when set) means $TMPDIR, else /tmp.
  const KString& TmpDirPath() const { return fTmpDir; }
  void TmpDirPath(const char* dir) { fTmpDir = dir != nullptr ? dir : ""; }
  ///@}
  ///@{
  /// The longest urlencoded item or text part, in bytes; a longer one fails
  /// the parse.
  size_t MaxItemBytes() const { return fMaxItem; }
  void MaxItemBytes(size_t n) { fMaxItem = n; }
  ///@}
  ///@{
  /// The deepest nesting of multipart bodies; a deeper one fails the parse.
  int MaxDepth() const { return fMaxDepth; }
  void MaxDepth(int n) { fMaxDepth = n; }
  ///@}

  ///@{
  /// Parses the request that lookup describes, reading a POST body from in,
  /// and hands each argument to sink; verbose adds a trace of debug lines.
  /// 0 on success, 1 on failure.
  int CrackArgs(std::FILE* in, KHTTPLookup lookup, void* lookupContext, KHTTPSink sink,
                void* sinkContext, bool verbose);
  int CrackArgs(std::istream& in, KHTTPLookup lookup, void* lookupContext, KHTTPSink sink,
                void* sinkContext, bool verbose);
  ///@}
  /// The same parse fed from outside, for a caller that reads the body
  /// itself (a server's event loop). BeginArgs takes what CrackArgs takes
  /// but the stream; the body then comes in pieces of any size, by FeedArgs
  /// or by FeedBuffer and FeedCommit (a read lands in the parser's own
  /// buffer, with no copy); EndArgs says the input ended and returns what
  /// CrackArgs would have: 0 on success, 1 on failure. Sink calls, part
  /// files, limits and debug lines are CrackArgs's on a stream that ends
  /// where the pieces do, wherever they are cut: the parse takes its input
  /// in whole reads (up to a read buffer, never past the declared length),
  /// and runs once a read is complete or at EndArgs. One thread feeds and
  /// ends a parse (its fiber stays on that thread). A parse still open when
  /// BeginArgs is called again or the object goes ends as if its input
  /// ended (without sink calls when the object goes).
  ///
  /// partDataOffset (the fed entry's own option; CrackArgs uses 0): every
  /// file part's temporary starts with that many bytes of room (a hole)
  /// before its data, so that its reader can fill them in (a cache item's
  /// header) and take the file over as it is. The lengths the sink gets
  /// ("_filelength") and the type detection are the data's; a part without
  /// data may leave the file empty, room and all.
  void BeginArgs(KHTTPLookup lookup, void* lookupContext, KHTTPSink sink, void* sinkContext,
                 bool verbose, uint32_t partDataOffset = 0);
  /// Where the next bytes go and, in *room, how many the parse takes now
  /// (never past the declared length); null with *room 0 when it wants no
  /// more (all of it came, or it failed).
  char* FeedBuffer(size_t* room);
  /// n bytes were put where FeedBuffer said. REQUIRES: n <= its *room.
  void FeedCommit(size_t n);
  /// Parses the n bytes at data; returns how many were taken (fewer than n
  /// only when the parse wants no more). The parse reads whole reads in
  /// place and copies only a read the call cuts and the few bytes it keeps
  /// (at most a boundary's length): data need not outlive the call.
  size_t FeedArgs(const char* data, size_t n);
  /// Ends the fed parse (see BeginArgs): 0 on success, 1 on failure or when
  /// no parse is open.
  int EndArgs();
  /// Deletes every upload file and empties its slot; trace writes one debug
  /// line per file deleted.
  void CleanupPostFiles(bool trace);
  /// Bytes a type probe keeps at each end of the data (8 MiB).
  static constexpr int64_t kTypeProbeBytes = 8 << 20;
  /// Writes at probePath, for a type detection that reads a file by its
  /// name, a file it reads as the data of the part file at path (the data
  /// from dataOffset on): as long as the data, with its first and last
  /// kTypeProbeBytes bytes in their places and a hole between, which is all
  /// a detection reads. A probe of data up to twice that size is a whole
  /// copy. False, with one debug line, no probe left and errno saying why,
  /// when it cannot.
  static bool WriteTypeProbe(const char* path, uint64_t dataOffset, const char* probePath);
  /// The KFile of the next upload in the first empty slot; null when every
  /// slot is taken or base is empty.
  KFile* GetTmpFile(const char* base);
  /// The base of an upload file's name for the client's file name base:
  /// TmpDirPath() (else $TMPDIR/ or /tmp/) followed by what base holds after
  /// its last slash, backslash, colon or space; empty for a null or empty
  /// base.
  KString UseTmpFile(const char* base) const;

 private:
  struct Parse;
  struct Push;
  /// How an input ended, for the verbose trace: as a FILE does (no word),
  /// or as a stream at its end or gone bad.
  enum class InputEnd { kQuiet, kEnd, kBad };
  static void RunParse(void* self);
  /// Runs the parse until it waits for input or returns; false once it has.
  bool ResumeParse();
  int EndInput(InputEnd how);

  Push* fPush = nullptr;  ///< made at the first parse

  KFile* fFiles[kSlots] = {};
  unsigned long fInstance;
  char* fReadBuf;
  const char* fCursor;
  int32_t fAvailable = 0;
  bool fVerbose = false;
  bool fStrict = true;
  bool fAddTimestamp = false;
  int64_t fUnread = 0;
  char* fWriteBuf = nullptr;
  int32_t fPending = 0;
  KHTTPLookup fLookup = nullptr;
  void* fLookupContext = nullptr;
  KHTTPSink fSink = nullptr;
  void* fSinkContext = nullptr;
  KString fTmpDir;
  size_t fMaxItem = kDefaultMaxItemBytes;
  int fMaxDepth = kDefaultMaxDepth;
};

#endif  // VXKERNEL_WEB_KHTTPARGS_H_
