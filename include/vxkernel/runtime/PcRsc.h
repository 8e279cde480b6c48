/// \file
/// PcRsc: the chain of resource modules.
///
/// A resource module is a shared object that exports a resource table under
/// the C name "vxk_resource_table" (an array of VXResource ended by an entry
/// whose type is null), best with protected visibility, so that a host that
/// exports a table of its own does not interpose on the module's. The chain is a process list and, in front of it, a
/// per-thread list of modules the thread opened itself; every lookup searches
/// the thread's list from its last module to its first, then the process list
/// from last to first, and takes the first module that has the resource. The
/// process list starts with the null handle, the host executable (whose table
/// is found in its dynamic symbols), followed by libvxresources.so when the
/// loader finds it; the library itself joins the list when it is loaded.
///
/// Ownership: PcRsc loads and frees the modules of the thread lists; process
/// list handles belong to whoever added them. Thread rule: the process list is
/// not locked (it changes at load and unload and through Instance(h), before
/// worker threads run); the thread lists are per thread.
#ifndef VXKERNEL_RUNTIME_PCRSC_H_
#define VXKERNEL_RUNTIME_PCRSC_H_

#include <vector>

#include "vxkernel/export.h"
#include "vxkernel/runtime/KThreadGlobals.h"

extern "C" {
/// One resource of a module's table. Strings have type "STRING", a null name,
/// id as their number and data pointing at the text (size bytes, followed by a
/// terminating zero). Icons, cursors and bitmaps have type "ICON", "CURSOR" or
/// "BITMAP". Every other type is raw data for LoadResource: a 16-bit
/// little-endian length n followed by n bytes (size is the whole, 2 + n). A
/// resource is named by name, or by id when name is null. The module owns
/// every string and byte the entry points at.
struct VXResource {
  const char* type;   ///< "STRING", "ICON", "CURSOR", "BITMAP" or a raw type; null ends the table
  const char* name;   ///< the resource's name; null when it is named by id
  long id;            ///< the resource's number, used when name is null
  const void* data;   ///< the bytes (text for a string)
  unsigned long size; ///< bytes at data (a string's terminating zero not counted)
};
}

/// The symbol under which a module exports its table.
#define VXK_RESOURCE_TABLE_SYMBOL "vxk_resource_table"

/// Looks resources up along the chain of resource modules (see the file
/// comment). Only static members.
class VXKERNEL_EXPORT PcRsc {
 public:
  typedef void* HINSTANCE;  ///< a module: the loader's handle; null = the host

  // ===== The process list =====
  /// Appends h to the process list (h may be there already); the list does
  /// not take ownership.
  static void Add(HINSTANCE h);
  /// Deletes the first occurrence; true when found.
  static bool Remove(HINSTANCE h);
  /// The current main instance (initially null).
  static HINSTANCE Instance();
  /// Makes h the main instance: the current one (when not null) leaves the
  /// process list, h is appended. Nothing happens when h is already current.
  static void Instance(HINSTANCE h);

  // ===== The thread's list =====
  /// Loads a module; on success appends it to the calling thread's list (when
  /// the thread has one) and returns it. On failure returns null and writes
  /// one debug line.
  static HINSTANCE OpenResourceFile(const char* file);
  /// Deletes h from the thread's list if it is there and frees the module in
  /// any case; true when it was in the list.
  static bool CloseResourceFile(HINSTANCE h);

  // ===== Lookups =====
  /// Copies string id into buf (at most size - 1 bytes, terminated) and
  /// returns the number of bytes copied; 0 when no module has it.
  static int LoadStringA(short id, char* buf, short size);
  /// First the icon named "ICO" + id in five digits ("ICO00007"), then the
  /// icon numbered id. Null when none.
  static const VXResource* LoadIconA(short id);
  /// The icon named name; flag has no effect.
  static const VXResource* LoadIconA(const char* name, unsigned char flag);
  /// The cursor named name, or the library's standard arrow cursor; never null.
  static const VXResource* LoadCursorA(const char* name);
  /// The bitmap named name, or null.
  static const VXResource* LoadBitmapA(const char* name);
  /// Raw resource of type and name. Mode -1 returns the VXResource itself;
  /// otherwise the n data bytes are copied into a new memory handle (mode 0,
  /// mem_newh), a new fixed block (mode 1, mem_new_fixed) or a block from
  /// new char[] (mode 2). Null when not found, for a malformed length, and for
  /// any other mode.
  static void* LoadResource(const char* type, const char* name, short mode);

  /// The process list, in order (created on first use).
  static const std::vector<HINSTANCE>& Instances();

 private:
  static std::vector<HINSTANCE>* gInstances;
  static HINSTANCE gInstance;
};

/// Thread-ring participant (priority 16, one slot) that owns every thread's
/// list of modules; Cleanup frees them from the last to the first.
class VXKERNEL_EXPORT KPcRscInit : public KThreadGlobals {
 public:
  KPcRscInit();
  ~KPcRscInit() override;

  /// The calling thread's list; null on a thread that has not started.
  static std::vector<PcRsc::HINSTANCE>* Current();

 protected:
  void Init() override;
  void Cleanup() override;
};

#endif  // VXKERNEL_RUNTIME_PCRSC_H_
