// How the program names files. The two directories are ANSI texts as the user
// wrote them (edits, settings file, captions, reports, log); the file system
// is given their whole UTF-16 form, so that every name in them can be reached.
#pragma once

#include <string>

namespace zelvo {

// A directory text as pasted or typed: without the blanks around it and
// without one pair of quotes (double or single) enclosing it, as the settings
// file's own read takes a value. Explorer's "Copy as path" gives "D:\资料".
std::string CleanDirectoryText(const std::string& text);

// True for a path the run can take as a directory of its own: an absolute
// drive path ("X:\..." or "X:/..."), a UNC path ("\\computer\share...", with
// either separator), or either of them behind "\\?\" or "\\.\" (a UNC path
// there as "UNC\computer\share..."). Empty, relative and drive-relative
// ("C:backup") paths are not.
bool IsUsableDirectoryPath(const std::string& path);

// ANSI text as UTF-16.
std::wstring WidenAnsi(const std::string& text);

// A file name as the program shows it: in the ANSI code page, byte for byte
// what an ANSI listing gives wherever the code page holds the character, and
// "<U+XXXX>" (the full code point, also of a surrogate pair) for each one it
// does not hold, never "?" and never a best-fit look-alike (â is not a).
// Windows file names cannot hold "<" or ">", so the form is unambiguous.
std::string ShownName(const std::wstring& name);

// A directory of a run. Text() is what the program shows; the wide calls are
// given the directory made whole once (GetFullPathNameW: "/" turned into "\",
// "." and ".." resolved, trailing separators dropped but for a root), and its
// entries joined to that with one "\". A path that would not fit MAX_PATH
// goes in its \\?\ form (\\?\UNC\ for a share), as does a name that the
// platform's path rules would change (a trailing dot or blank, a device name
// such as "aux.txt"); the \\?\ form takes a path exactly as it stands, which
// is why it is used only on a whole path and only where it is needed. A
// directory written in the \\.\ form is made whole, then kept in its \\?\ form.
class DirPath {
public:
    explicit DirPath(std::string text);

    const std::string& Text() const { return text_; }
    // The directory itself, for listing, holding or removing it.
    std::wstring Path() const;
    // An entry of it; `directory` for a directory to be created, whose
    // plain form must leave room for an 8.3 name (MAX_PATH - 12).
    std::wstring PathOf(const std::wstring& name, bool directory = false) const;
    // What the program shows for an entry: Text() + "\" + ShownName(name),
    // joined as the texts stand, as the ANSI run always did.
    std::string ShownPathOf(const std::wstring& name) const;
    // A directory inside this one (our own temporary folder).
    DirPath Inside(const std::wstring& name) const;

private:
    DirPath(std::string text, std::wstring whole) : text_(std::move(text)), whole_(std::move(whole)) {}

    std::string text_;
    std::wstring whole_;
};

}  // namespace zelvo
