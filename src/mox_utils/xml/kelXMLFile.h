// An XML document read from or written to a file.
//
// Reading: open() parses the whole file into memory and closes it again; the
// file may be in any encoding the document declares or marks with a byte
// order mark. A missing, empty, unreadable, malformed or truncated file, one
// without a root element, or one larger than kMaxFileSize gives false and
// leaves the object closed.
//
// Writing: changes made through kelXMLNode stay in memory. They reach the
// disk only through an explicit save() or saveAs(), which write the whole
// document as UTF-8 under a temporary name beside the target and rename it
// over the target, so a crash leaves the old file or the new one, never half
// a file. Closing or destroying a changed document discards the changes.
//
// Paths are Windows-style wide paths ('\' and '/' both separate), opened
// through the platform's file functions.
//
// Copies share one document: a copy sees the changes made through the other,
// and the document is released when the last copy is closed or destroyed.
// Nodes stay usable while any copy holds the document.
//
// Thread-safety: as kelXMLNode; one kelXMLFile object must not be used from
// two threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "mox_utils/export.h"
#include "mox_utils/xml/kelXMLNode.h"

class MOX_API kelXMLFile {
 public:
  // Files above this size are refused by open(), so a damaged or hostile file
  // cannot make the reader allocate without bound.
  static constexpr std::uint64_t kMaxFileSize = 64u * 1024u * 1024u;

  kelXMLFile();
  kelXMLFile(const kelXMLFile& other);
  kelXMLFile& operator=(const kelXMLFile& other);
  ~kelXMLFile();

  // Closes what was open, then reads and parses the file. With `mustExist`
  // true (as every reader passes) a file that does not exist gives false.
  // With `mustExist` false a file that does not exist opens as an empty
  // document without a root element (add one with create()) that save()
  // writes to `path`; a file that exists but cannot be read or parsed still
  // gives false.
  bool open(const wchar_t* path, bool mustExist);
  bool open(const std::wstring& path, bool mustExist);
  // Parses a document from memory (the bytes are copied). The document has no
  // path until saveAs() gives it one. False as for open().
  bool openBuffer(const void* data, std::size_t size);
  // Closes what was open and starts a new document holding one empty root
  // element of this name. The path stays empty unless `path` is given.
  // False for a null or invalid XML name.
  bool create(const wchar_t* rootName, const std::wstring& path = std::wstring());

  bool isOpen() const;
  // The path the document was opened from or last saved to.
  const std::wstring& getPath() const { return m_path; }

  // The root element, or an invalid node when nothing is open.
  kelXMLNode getRootElement() const;

  // Writes the document to its path; false when nothing is open, the
  // document has no path, or the write fails (the old file then stays).
  bool save() const;
  // Writes the document to `path` and makes it the document's path on
  // success.
  bool saveAs(const std::wstring& path);
  // The document as UTF-8 text, exactly as save() would write it; empty when
  // nothing is open.
  std::string toString() const;

  // Releases this object's share of the document; changes not saved are
  // lost. Closing a closed file does nothing.
  void close();

 private:
  struct Document;
  // A fresh document parsed in place from the bytes it takes over (pugixml
  // converts from the encoding that the byte order mark or declaration
  // names); null unless they hold a well-formed document with one root
  // element.
  static std::shared_ptr<Document> parse(std::string&& bytes);

  std::shared_ptr<Document> m_document;
  std::wstring m_path;
};
