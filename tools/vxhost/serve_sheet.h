// A page made once for many callers: its text with holes where each
// caller's own parts go (the form token, the user's name, the language
// switch's way back, the undo offers, a row's share links). Filling one
// copies the text and the parts, so a page kept between requests costs no
// formatting.
#ifndef VXKERNEL_TOOLS_VXHOST_SERVE_SHEET_H_
#define VXKERNEL_TOOLS_VXHOST_SERVE_SHEET_H_

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace serve {

struct Caller;

// Thread rule: made on one thread; once made, any thread may Fill it.
class Sheet {
 public:
  enum class Slot : uint8_t {
    kBack,      // where the language switch returns to, escaped
    kAdminNav,  // the administrator's links, for an administrator only
    kUser,      // the caller's name, escaped
    kCsrf,      // the caller's form token, escaped
    kUndo,      // the undo offers
    kShares,    // the share links of a row's document
  };
  // A value for Put: a text, or a hole (always an `H placeholder).
  struct Cell {
    Cell(std::string value) : text(std::move(value)) {}
    Cell(const char* value) : text(value) {}
    Cell(Slot s) : hole(true), slot(s) {}
    std::string text;
    bool hole = false;
    Slot slot = Slot::kBack;
  };

  void Add(const std::string& literal) { fText += literal; }
  // A hole taking its text as it is (kAdminNav, kUndo, kShares). For
  // kShares, key is the row's document.
  void Add(Slot slot, const std::string& key = "");
  void Add(const Sheet& other);
  // Fill(tmpl, values) with the holes among values left open: the texts
  // between them are formatted now, exactly as one Fill would.
  void Put(const char* tmpl, std::initializer_list<Cell> values);
  // The administrator's links, in the page's language.
  void SetAdminNav(std::string text) { fAdminNav = std::move(text); }

  // The page for who (nullptr: a page without navigation), undo: the undo
  // offers, shares: a row's links ("" none; may be empty for no links).
  std::string Fill(const Caller* who, const std::string& undo = "",
                   const std::function<std::string(const std::string& key)>& shares = {}) const;
  size_t Size() const { return fText.size(); }

 private:
  struct Hole {
    size_t at;  // in fText
    Slot slot;
    uint32_t row;  // kShares: in fRows
  };
  std::string fText;
  std::vector<Hole> fHoles;
  std::vector<std::string> fRows;
  std::string fAdminNav;
};

}  // namespace serve

#endif  // VXKERNEL_TOOLS_VXHOST_SERVE_SHEET_H_
