/// \file
/// The str_ function module: comparison, search, editing and conversion of
/// NUL-terminated texts held as bytes in the process encoding, and the strs_
/// string tables kept in memory-block handles.
///
/// Every function reads the text mode of the process on each call:
/// single-byte (one byte per character), double-byte (a lead byte of the
/// active code page and the byte after it form one character; no function
/// ever takes a trail byte for an ASCII character or splits a pair) or UTF-8.
/// Character arguments are 16-bit: a byte value, or lead * 256 + trail for a
/// double-byte character. Functions that return new arrays allocate them with
/// array new (free with delete[]). The module keeps no state: every function
/// is reentrant.
#ifndef VXKERNEL_TEXT_STR_H_
#define VXKERNEL_TEXT_STR_H_

#include "vxkernel/base/mem.h"
#include "vxkernel/export.h"

// ===== Comparison =====
// All return negative, 0 or positive; a null text on either side gives 0.

/// Compares two texts in the process encoding. Single-byte and UTF-8 modes:
/// case-sensitive gives -1, 0 or 1 by unsigned bytes (UTF-8 byte order is
/// code point order); ignoring case gives the difference of the toupper
/// values of the first bytes that differ after folding. Double-byte mode: a
/// lead byte and its trail byte count as one character valued
/// lead * 256 + trail, other bytes by their value (toupper'd when ignoring
/// case), and the first difference of character values is returned.
VXKERNEL_EXPORT int str_DBCS_cmp(const char* a, const char* b, bool ignoreCase);
/// The same over at most n bytes (a double-byte character counts 2).
VXKERNEL_EXPORT int str_DBCS_ncmp(const char* a, const char* b, long n, bool ignoreCase);
/// str_DBCS_cmp and str_DBCS_ncmp ignoring case.
///@{
VXKERNEL_EXPORT int str_cmpu(const char* a, const char* b);
VXKERNEL_EXPORT int str_ncmpu(const char* a, const char* b, long n);
///@}
/// Blank-extended: the shorter text compares as if padded with spaces.
/// str_cmpbeu ignores case.
///@{
VXKERNEL_EXPORT int str_cmpbe(const char* a, const char* b, bool ignoreCase);
VXKERNEL_EXPORT int str_cmpbeu(const char* a, const char* b);
///@}
/// Locale-aware comparison when international strings are on (collation of
/// the standard library's locale), str_DBCS_cmp otherwise; -1, 0 or 1.
/// str_cmpu_intl ignores case.
///@{
VXKERNEL_EXPORT int str_cmp_intl(const char* a, const char* b);
VXKERNEL_EXPORT int str_cmpu_intl(const char* a, const char* b);
///@}
/// Whether c starts a multi-byte character in the process encoding.
VXKERNEL_EXPORT bool str_is_lead_byte(unsigned char c);
/// Whether c is a lead byte of the given code page (0: the active one).
VXKERNEL_EXPORT bool str_is_lead_byte_ex(unsigned char c, unsigned codePage);

// ===== Search =====
// A single-byte character never matches a trail byte. Null texts give null
// (or 0 for the spans).

/// The first / last character ch of s, as strchr and strrchr (ch 0 finds the
/// terminator); null when s has none.
///@{
VXKERNEL_EXPORT char* str_DBCS_chr(const char* s, unsigned short ch);
VXKERNEL_EXPORT char* str_DBCS_rchr(const char* s, unsigned short ch);
///@}
/// First occurrence of sub that starts on a character boundary.
VXKERNEL_EXPORT char* str_DBCS_str(const char* s, const char* sub);
/// Byte length of the leading run of characters in / not in set.
///@{
VXKERNEL_EXPORT long str_DBCS_spn(const char* s, const char* set);
VXKERNEL_EXPORT long str_DBCS_cspn(const char* s, const char* set);
///@}

// ===== Case and white space (in place; double-byte characters untouched) =====

/// Passes every single-byte character through toupper / tolower of the
/// current C locale; returns s (null stays null).
///@{
VXKERNEL_EXPORT char* str_upper(char* s);
VXKERNEL_EXPORT char* str_lower(char* s);
///@}
/// Letters and "-" form words; the first character of each word is
/// upper-cased, the others lower-cased ("jean-paul" -> "Jean-paul").
/// Returns the length.
VXKERNEL_EXPORT long str_capitalize(char* s);
/// Removes every space and TAB; returns the new length.
VXKERNEL_EXPORT long str_collapse(char* s);
/// Replaces each run of spaces and TABs by one space; returns the new length.
VXKERNEL_EXPORT long str_compress(char* s);
/// Removes trailing white space (ASCII isspace).
VXKERNEL_EXPORT char* str_trim(char* s);
/// Remove leading and trailing white space; return s.
///@{
VXKERNEL_EXPORT char* str_trimlr(char* s);
VXKERNEL_EXPORT char* str_trimall(char* s);
///@}
/// Removes every occurrence of each character of chars; returns the new length.
VXKERNEL_EXPORT long str_strip(char* s, const char* chars);
/// In the first n bytes, a byte equal to from[i] becomes to[i] (first match wins).
VXKERNEL_EXPORT char* str_translate_n(char* s, long n, const char* from, const char* to);
/// n bytes of ch (a double-byte ch fills pairs, n rounded down to even) and a NUL.
/// REQUIRES: s has room for n + 1 bytes.
VXKERNEL_EXPORT char* str_fill(char* s, unsigned short ch, long n);
/// Copies src into dst (at most size - 1 characters) expanding TABs to the
/// next multiple of tab columns (4 when tab < 1), then trims trailing spaces.
/// Returns the length, negated when src did not fit.
VXKERNEL_EXPORT long str_expand(char* dst, long size, const char* src, long tab);

// ===== Substrings and editing =====
// Positions and lengths are bytes, rounded down to a character boundary
// while the multibyte setting is on.

/// Copies at most n bytes of src (and at most dstSize - 1) and a NUL, then
/// drops a character cut in half at the end. Returns dst.
VXKERNEL_EXPORT char* str_copy_n(char* dst, long dstSize, const char* src, long n);
/// The len bytes at pos with a NUL. REQUIRES: dst has room for len + 1 bytes.
VXKERNEL_EXPORT char* str_sub(char* dst, const char* src, long pos, long len);
/// The same into a new array of len + 1 bytes.
VXKERNEL_EXPORT char* str_substring(const char* s, long pos, long len);
/// Removes len bytes at pos in place; returns the new length.
VXKERNEL_EXPORT long str_delete(char* s, long pos, long len);
/// Inserts ins at pos in place; returns the new length.
/// REQUIRES: s has room for the result.
VXKERNEL_EXPORT long str_insert(char* s, long pos, const char* ins);
/// A new copy; null gives a new empty text.
VXKERNEL_EXPORT char* str_dup(const char* s);
/// A new text: a followed by b (null counts as empty).
VXKERNEL_EXPORT char* str_add(const char* a, const char* b);
/// A new copy of a with the first occurrence of b removed.
VXKERNEL_EXPORT char* str_subtract(const char* a, const char* b);
/// Characters before the NUL (a double-byte or UTF-8 sequence counts once);
/// 0 for null.
VXKERNEL_EXPORT long str_length_in_chars(const char* s);
/// Number of characters that start before byte n.
VXKERNEL_EXPORT long str_byte_offset_to_char_offset(const char* s, long n);

// ===== Element lists =====
// Elements are separated by the character sep and numbered from 0.

/// Number of elements: separators + 1 (1 for ""); 0 for null.
VXKERNEL_EXPORT long str_nsubelements(const char* s, unsigned short sep);
/// Copies element n into dst; null when src has fewer than n separators.
/// REQUIRES: dst has room for the element.
VXKERNEL_EXPORT char* str_element(char* dst, long n, unsigned short sep, const char* src);
/// Element n as a new array; null when there are fewer than n separators.
VXKERNEL_EXPORT char* str_subelement(const char* s, long n, unsigned short sep);
/// Returns the number of elements and stores in map a new array of that many
/// entries plus one: each separator's byte offset, then strlen(s) (twice).
VXKERNEL_EXPORT long str_elements_map(const char* s, unsigned short sep, long*& map);

// ===== Quoting =====

/// A new text: q, s with every q doubled, q.
VXKERNEL_EXPORT char* str_quote(const char* s, char q);
/// The same into dst, truncated to size bytes (NUL included); a doubled q is
/// written only when both fit. Returns dst.
VXKERNEL_EXPORT char* str_quote(const char* s, long size, char* dst, char q);
/// A new text with every apostrophe doubled.
VXKERNEL_EXPORT char* str_munge_quotes(const char* s);
/// Removes the quotes of a quoted text (doubled quotes become single) into
/// dst (at most len bytes, NUL included); a text that is not exactly one
/// quoted text is copied unchanged. Returns the resulting length.
VXKERNEL_EXPORT long str_unquote(char* dst, long len, const char* src);

// ===== Memory blocks =====

/// Copy min(n, block size) bytes out of the block and add a NUL.
/// REQUIRES: buf has room for n + 1 bytes.
///@{
VXKERNEL_EXPORT char* str_hdl_to_str(mem_handle h, char* buf, long n);
VXKERNEL_EXPORT char* str_handle_to_str(mem_handle hh, char* buf, long n);
///@}
/// Resize the block to strlen(s) and copy s in (no NUL stored; null s as
/// ""). A null block is ignored; when the resize fails, writes one debug
/// line and leaves the block unchanged.
///@{
VXKERNEL_EXPORT void str_str_to_hdl(const char* s, mem_handle h);
VXKERNEL_EXPORT void str_str_to_handle(const char* s, mem_handle hh);
///@}

// ===== Encodings =====

/// The n bytes of src (n = 0: strlen) as Base64 characters in groups of
/// three bytes zero-padded to (n / 3 + 1) * 3 bytes, no "=". Returns 0, or 2
/// when dst (dstSize bytes, NUL included) could not take every group.
VXKERNEL_EXPORT int str_encode8to6(const char* src, char* dst, long dstSize, long n);
/// The inverse; characters outside the alphabet count as 0. Stores the byte
/// count in *outLen when given. Returns 0, or 2 when dst was too small.
VXKERNEL_EXPORT int str_decode6to8(const char* src, char* dst, long dstSize, long* outLen);
/// Reversible byte scrambling with a 16-bit key; the result is not NUL-safe.
/// Returns 0, or 2 when the text was truncated to dstSize - 1 bytes. The two
/// are the same operation: decoding with the key restores the text.
///@{
VXKERNEL_EXPORT int str_encode(const char* src, unsigned short key, char* dst, long dstSize);
VXKERNEL_EXPORT int str_decode(const char* src, unsigned short key, char* dst, long dstSize);
///@}
/// Shift-JIS text as a new ISO-2022-JP (JIS) text; null gives null.
VXKERNEL_EXPORT char* str_sjis2jis(const char* s);

// ===== Line breaking =====

/// Measures the first byteCount bytes of text in the caller's units.
typedef long (*str_width_fn)(void* ctx, const char* text, long byteCount);
/// Cuts one line of at most maxWidth (and maxChars; 0: maxWidth) from src
/// into dst (dstSize bytes, NUL included), breaking at a space, hyphen or LF,
/// else hyphenating. Returns where the next line starts in src, or null when
/// src holds only spaces.
VXKERNEL_EXPORT const char* str_hyphenate(const char* src, char* dst, long dstSize, long maxWidth,
                                          str_width_fn widthFn, void* ctx, long maxChars);

// ===== String tables =====
// Compact tables of strings numbered from 1, kept in one memory block.
// Numbers stay valid until the string is deleted.

/// A new empty table, to be released with strs_dispose_table; null (one
/// debug line) when memory runs out.
VXKERNEL_EXPORT mem_handle strs_new_table();
/// Returns the new string's number, or 0 on failure (one debug line).
VXKERNEL_EXPORT long strs_add_string(mem_handle t, const char* s);
/// Copies string n into buf (size bytes, NUL included); an empty text and
/// null for 0, a number beyond the table or a deleted string.
VXKERNEL_EXPORT char* strs_get_string(mem_handle t, long n, char* buf, long size);
/// String n as a new array (str_dup); null when there is none.
VXKERNEL_EXPORT char* strs_get_string_ptr(mem_handle t, long n);
/// Deletes string n; a later strs_add_string may reuse the number. A number
/// without a string writes one debug line.
VXKERNEL_EXPORT void strs_delete_string(mem_handle t, long n);
/// Number of strings in use.
VXKERNEL_EXPORT long strs_count(mem_handle t);
/// Makes table dst an exact copy of src (mem_copy); on failure writes one
/// debug line and dst is unchanged.
VXKERNEL_EXPORT void strs_copy_table(mem_handle dst, mem_handle src);
/// Releases the table (mem_dispose); null is accepted.
VXKERNEL_EXPORT void strs_dispose_table(mem_handle t);

#endif  // VXKERNEL_TEXT_STR_H_
