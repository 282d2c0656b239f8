// Profile files ("ini" files): sections in square brackets, then key=value
// lines. The language files and setting.ini are such files. The reader and
// writer here behave like the Windows profile-file functions the program was
// designed on (GetPrivateProfileStringW / WritePrivateProfileStringW):
//
// Reading
// - Section and key names are matched without regard to ASCII case; blanks
//   around a name are ignored ("[ Setup ]", "  Language =").
// - The value is the text after the first '=' with blanks (spaces, tabs)
//   trimmed at both ends; when what is left starts and ends with the same
//   quote character (" or '), that pair is removed, as the Windows reader does.
// - A key that occurs twice in a section: the first occurrence wins.
// - A section header that occurs twice: the blocks are one section, searched
//   in file order, so a key of the second block is found when the first block
//   does not have it, and the first block wins when both have it.
// - Lines starting with ';' are comments. Lines that are neither a header nor
//   key=value (no '=', empty key, "[" without "]") and key lines before the
//   first header are skipped; nothing in a file makes a read fail.
// - A missing file, section or key gives the default.
// - Nothing is cached: every call opens and reads the file again, so a file
//   changed behind the program's back is seen at the next read.
//
// Encodings
// - UTF-16LE with byte-order mark (FF FE).
// - UTF-8 with or without byte-order mark (EF BB BF).
// - Otherwise the Chinese ANSI code page: a file without BOM that is not valid
//   UTF-8 is decoded as GB18030 (a superset of GBK/GB2312).
// Returned strings are UTF-8. Lines end with CR LF or LF.
//
// Writing
// - Only the line holding the key's first occurrence is changed (its text up
//   to and including '=' and the blanks after it is kept, the value replaced);
//   every other line is kept byte for byte, line ends included.
// - A missing key is added after the last key line of its section (the first
//   block of a duplicated section); a missing section is added at the end of
//   the file; a missing file is created (UTF-8 without BOM, CR LF).
// - The file keeps its encoding: UTF-16LE with BOM stays so, UTF-8 stays UTF-8
//   (with its BOM if it had one), a GB18030 file stays GB18030.
// - The file is written with WriteFileSafely (util/FileAccess.h): a failed
//   write leaves the old file as it was, a symbolic link is written through
//   to its target, a read-only file is not replaced (the write fails, like on
//   Windows), and a folder that is not writable does not stop a writable file.
// - A folder, FIFO or device in place of the file is refused at once, for
//   reading and writing alike; reading it gives the default.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "util/Error.h"

// <windows.h> defines WriteProfileString as a macro for the Win32 function of
// that name. Code that includes <windows.h> after this header must #undef it
// again before calling varnel::WriteProfileString.
#ifdef WriteProfileString
#undef WriteProfileString
#endif

namespace varnel {

// The value of (section, key) in `file`, or `defaultValue` when the file,
// the section or the key is missing.
std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue = {});

// Sets (section, key) to `value` in `file` (UTF-8 arguments). Returns an
// error naming the file when the arguments cannot be stored (a line break in
// any of them, an empty key, a key with '=' or starting with '[' or ';', a
// section name with ']') or the file cannot be read or written; the file is
// then unchanged.
Error WriteProfileString(const std::filesystem::path& file, std::string_view section,
                         std::string_view key, std::string_view value);

// Why `file` cannot serve as a profile file (a folder, FIFO or device, or a
// file that cannot be read); success when it is readable or missing.
Error CheckProfileFile(const std::filesystem::path& file);

// Encoding of a profile file's bytes, as the reader detects it.
enum class ProfileEncoding { Utf8, Utf8Bom, Utf16LeBom, Gb18030 };
ProfileEncoding DetectProfileEncoding(std::string_view bytes);

// Helpers shared with the tests: strict UTF-8 check (no overlong forms, no
// surrogates, nothing above U+10FFFF) and the GB18030 conversions. Invalid
// input is replaced by U+FFFD when decoding.
bool IsValidUtf8(std::string_view bytes);
std::string Gb18030ToUtf8(std::string_view bytes);
std::string Utf8ToGb18030(std::string_view text);

}  // namespace varnel
