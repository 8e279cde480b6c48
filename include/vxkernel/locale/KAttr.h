/// \file
/// KAttr: the descriptive attributes of a file.
#ifndef VXKERNEL_LOCALE_KATTR_H_
#define VXKERNEL_LOCALE_KATTR_H_

#include <cstdint>

#include "vxkernel/export.h"
#include "vxkernel/files/KFile.h"
#include "vxkernel/locale/KDateTime.h"
#include "vxkernel/text/KString.h"

/// A file's name, size, type, dates and read-only flag, read from or written
/// to the file system, plus descriptive fields this platform does not keep
/// (creator, resource size, flags, icon map, finder flags) that callers
/// carry along. Owns its icon map (256 bytes when set). Copies are deep.
/// Not synchronized.
class VXKERNEL_EXPORT KAttr {
 public:
  /// The platform number this library writes.
  static constexpr uint16_t kPlatform = 2;

  /// Every field cleared, as Init leaves it.
  KAttr();
  /// Copies every field, the icon map included (deep copy).
  ///@{
  KAttr(const KAttr& other);
  KAttr& operator=(const KAttr& other);
  ///@}
  virtual ~KAttr();

  /// Clears every field (the icon map is freed).
  void Init();

  /// Reads name, size, type (upper case, without '.'), dates (local time;
  /// creation from the birth time where the file system keeps it, otherwise
  /// the modification time) and read-only (no write bit in the mode). 0 on
  /// success; -1 (one debug line) when the file cannot be read.
  long GetAttrFromFile(const KFile& file);
  /// Makes the file read-only (every write bit cleared) or writable by its
  /// owner, as ReadOnly() says; nothing else is written. 0 on success; -1
  /// (one debug line) when refused.
  long SetAttrToFile(const KFile& file) const;

  /// The platform number of whoever filled the attributes (kPlatform after
  /// GetAttrFromFile; 0 when cleared).
  ///@{
  uint16_t Platform() const { return fPlatform; }
  void Platform(uint16_t p) { fPlatform = p; }
  ///@}
  /// The file name without its path; empty when cleared.
  ///@{
  KString Name() const { return fName; }
  void Name(const KString& name) { fName = name; }
  ///@}
  /// The size in bytes of the file's data; 0 for a directory.
  ///@{
  int64_t Dsize() const { return fDsize; }
  void Dsize(int64_t size) { fDsize = size; }
  ///@}
  /// The size in bytes of the resource fork: carried for callers;
  /// GetAttrFromFile leaves it unchanged.
  ///@{
  int32_t Rsize() const { return fRsize; }
  void Rsize(int32_t size) { fRsize = size; }
  ///@}
  /// Caller-defined flags: carried along, never read from or written to a file.
  ///@{
  int32_t Flags() const { return fFlags; }
  void Flags(int32_t flags) { fFlags = flags; }
  ///@}
  /// The file type: the extension in upper case, without '.'; empty for none.
  ///@{
  KString Type() const { return fType; }
  void Type(const KString& type) { fType = type; }
  ///@}
  /// The creator code: carried for callers; GetAttrFromFile leaves it
  /// unchanged.
  ///@{
  KString Creator() const { return fCreator; }
  void Creator(const KString& creator) { fCreator = creator; }
  ///@}
  /// Creation and modification dates, in local time.
  ///@{
  const KDateTime& CreateDate() const { return fCreateDate; }
  void CreateDate(const KDateTime& d) { fCreateDate = d; }
  const KDateTime& ModifyDate() const { return fModifyDate; }
  void ModifyDate(const KDateTime& d) { fModifyDate = d; }
  ///@}
  /// Not 0: the file is read-only; the one field SetAttrToFile writes.
  ///@{
  unsigned char ReadOnly() const { return fReadOnly; }
  void ReadOnly(unsigned char readOnly) { fReadOnly = readOnly; }
  ///@}
  /// The 256-byte icon map, or null when none is set.
  const void* Iconmap() const { return fIconmap; }
  /// Copies 64 32-bit words from map (null: no icon map).
  void Iconmap(const void* map);
  /// Finder flags: carried for callers; GetAttrFromFile leaves them unchanged.
  ///@{
  uint16_t FinderFlags() const { return fFinderFlags; }
  void FinderFlags(uint16_t flags) { fFinderFlags = flags; }
  ///@}

 private:
  static constexpr size_t kIconmapSize = 64 * 4;

  uint16_t fPlatform;
  KString fName;
  int64_t fDsize;
  int32_t fRsize;
  int32_t fFlags;
  KString fType;
  KString fCreator;
  KDateTime fCreateDate;
  KDateTime fModifyDate;
  uint8_t fReadOnly;
  unsigned char* fIconmap;  ///< owned, kIconmapSize bytes, or null
  uint16_t fFinderFlags;
};

#endif  // VXKERNEL_LOCALE_KATTR_H_
