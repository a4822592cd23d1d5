// Profile-file stand-ins. The file is edited line by line, so blank lines,
// lines without "=" and every other section and key survive a write; written
// lines end with CR LF. As in Win32 there are no comments: ";k=v" is the key
// ";k".
#include "platform/posix/fail.h"
#include "platform/posix/profile.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/posix/errors.h"

namespace {

ProfileReader fileReader = nullptr;
ProfileWriter fileWriter = nullptr;

bool readFile(const std::string& path, std::string& data) {
  return fileReader ? fileReader(path, data) : ReadWholeFile(path, data);
}

bool replaceFile(const std::string& path, const std::string& data) {
  return fileWriter ? fileWriter(path, data) : ReplaceFileContents(path, data);
}

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

bool sameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::optional<std::string> sectionName(const std::string& line) {
  const std::string t = trim(line);
  if (t.empty() || t[0] != '[') return std::nullopt;
  const auto close = t.find(']');
  return trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

// Key and value of a "key=value" line; section lines and lines without "="
// hold no key.
bool keyLine(const std::string& line, std::string& key, std::string& value) {
  const std::string t = trim(line);
  if (t.empty() || t[0] == '[') return false;
  const auto eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = trim(line.substr(0, eq));
  value = trim(line.substr(eq + 1));
  return true;
}

// The lines of one section: its key lines are [body, end).
struct Section {
  std::optional<size_t> header;  // none for the keys before the first header
  size_t body;
  size_t end;
};

struct Profile {
  std::vector<std::string> lines;

  size_t nextHeader(size_t from) const {
    while (from < lines.size() && !sectionName(lines[from])) ++from;
    return from;
  }

  // The first section with this name. The keys before the first header
  // make up the section whose name is empty, unless a "[]" header stands in
  // the file: Win32 then takes that one.
  std::optional<Section> findSection(const char* name) const {
    for (size_t i = 0; i < lines.size(); ++i) {
      const auto sec = sectionName(lines[i]);
      if (sec && sameName(*sec, name)) return Section{i, i + 1, nextHeader(i + 1)};
    }
    if (*name == '\0') return Section{std::nullopt, 0, nextHeader(0)};
    return std::nullopt;
  }

  std::optional<size_t> findKey(const Section& section, const char* name, std::string* value) const {
    std::string key, val;
    for (size_t i = section.body; i < section.end; ++i) {
      if (keyLine(lines[i], key, val) && sameName(key, name)) {
        if (value) *value = val;
        return i;
      }
    }
    return std::nullopt;
  }

  std::string text() const {
    std::string out;
    for (const auto& line : lines) out += line + "\r\n";
    return out;
  }
};

// Reads a profile; a missing file is an empty profile. False when the file
// exists but cannot be read.
bool load(const char* fileName, Profile& profile) {
  std::string data;
  if (!readFile(fileName, data)) return GetLastError() == ERROR_FILE_NOT_FOUND;
  profile.lines = SplitLines(data);
  return true;
}

std::string unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

DWORD copyString(const std::string& value, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  const DWORD n = std::min<DWORD>(static_cast<DWORD>(value.size()), size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return n;
}

// A list of names, each ending in NUL, the whole ending in a second NUL. When
// it does not fit, it is cut and size - 2 is returned, as Win32 does.
DWORD copyList(const std::vector<std::string>& names, LPSTR buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  std::string all;
  for (const auto& name : names) all += name + '\0';
  if (all.size() + 1 <= size) {
    std::memcpy(buffer, all.data(), all.size());
    buffer[all.size()] = '\0';
    if (all.empty()) buffer[1] = '\0';
    return static_cast<DWORD>(all.size());
  }
  std::memcpy(buffer, all.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

}  // namespace

void SetProfileFiles(ProfileReader reader, ProfileWriter writer) {
  fileReader = reader;
  fileWriter = writer;
}

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  std::string fallback = lpDefault ? lpDefault : "";
  fallback.erase(fallback.find_last_not_of(' ') + 1);
  Profile profile;
  if (!lpFileName || !load(lpFileName, profile)) profile.lines.clear();

  if (!lpAppName) {
    std::vector<std::string> names;
    for (const auto& line : profile.lines)
      if (const auto sec = sectionName(line)) names.push_back(*sec);
    return copyList(names, lpReturnedString, nSize);
  }
  const auto section = profile.findSection(lpAppName);
  if (!lpKeyName) {
    std::vector<std::string> keys;
    std::string key, value;
    if (section)
      for (size_t i = section->body; i < section->end; ++i)
        if (keyLine(profile.lines[i], key, value)) keys.push_back(key);
    return copyList(keys, lpReturnedString, nSize);
  }
  std::string value;
  if (section && profile.findKey(*section, lpKeyName, &value))
    return copyString(unquote(value), lpReturnedString, nSize);
  SetLastError(ERROR_FILE_NOT_FOUND);
  return copyString(fallback, lpReturnedString, nSize);
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName) {
  if (!lpFileName) return FailWith(ERROR_INVALID_PARAMETER);
  if (!lpAppName) {
    // All three null only flushes a cache, which there is none of.
    if (!lpKeyName && !lpString) return TRUE;
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  Profile profile;
  if (!load(lpFileName, profile)) return FALSE;

  auto& lines = profile.lines;
  const auto section = profile.findSection(lpAppName);
  if (!lpKeyName) {
    if (!section) return TRUE;
    const size_t first = section->header ? *section->header : section->body;
    lines.erase(lines.begin() + static_cast<long>(first), lines.begin() + static_cast<long>(section->end));
  } else {
    const auto key = section ? profile.findKey(*section, lpKeyName, nullptr) : std::nullopt;
    if (!lpString) {
      if (!key) return TRUE;
      lines.erase(lines.begin() + static_cast<long>(*key));
    } else if (key) {
      const std::string& old = lines[*key];
      lines[*key] = trim(old.substr(0, old.find('='))) + "=" + lpString;
    } else if (section) {
      size_t at = section->end;
      while (at > section->body && trim(lines[at - 1]).empty()) --at;
      lines.insert(lines.begin() + static_cast<long>(at), std::string(lpKeyName) + "=" + lpString);
    } else {
      lines.push_back(std::string("[") + lpAppName + "]");
      lines.push_back(std::string(lpKeyName) + "=" + lpString);
    }
  }
  return replaceFile(lpFileName, profile.text()) ? TRUE : FALSE;
}

BOOL WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName) {
  if (!lpFileName || !lpAppName || !lpString) return FailWith(ERROR_INVALID_PARAMETER);
  Profile profile;
  if (!load(lpFileName, profile)) return FALSE;
  std::vector<std::string> body;
  for (const char* entry = lpString; *entry; entry += std::strlen(entry) + 1) body.emplace_back(entry);

  auto& lines = profile.lines;
  if (const auto section = profile.findSection(lpAppName)) {
    // Blank lines that part it from the next section stay.
    size_t end = section->end;
    while (end > section->body && trim(lines[end - 1]).empty()) --end;
    lines.erase(lines.begin() + static_cast<long>(section->body), lines.begin() + static_cast<long>(end));
    lines.insert(lines.begin() + static_cast<long>(section->body), body.begin(), body.end());
  } else {
    lines.push_back(std::string("[") + lpAppName + "]");
    lines.insert(lines.end(), body.begin(), body.end());
  }
  return replaceFile(lpFileName, profile.text()) ? TRUE : FALSE;
}
