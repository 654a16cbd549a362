#include "mox_utils/xml/kelXMLFile.h"

#include <new>
#include <pugixml.hpp>

#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"
#include "mox_utils/xml/XmlText.h"

struct kelXMLFile::Document {
  std::string bytes;  // parsed in place: the document's text points into it
  pugi::xml_document document;
};

namespace {

class StringWriter : public pugi::xml_writer {
 public:
  explicit StringWriter(std::string* out) : m_out(out) {}
  void write(const void* data, size_t size) override { m_out->append(static_cast<const char*>(data), size); }

 private:
  std::string* m_out;
};

}  // namespace

std::shared_ptr<kelXMLFile::Document> kelXMLFile::parse(std::string&& bytes) {
  try {
    auto document = std::make_shared<Document>();
    document->bytes = std::move(bytes);
    // Comments are kept so that a rewritten file keeps them; the declaration
    // is not, since the file is always written back as UTF-8.
    const pugi::xml_parse_result result =
        document->document.load_buffer_inplace(document->bytes.data(), document->bytes.size(),
                                               pugi::parse_default | pugi::parse_comments, pugi::encoding_auto);
    if (!result) return nullptr;
    // pugixml accepts several top-level elements; a document has exactly one.
    int elements = 0;
    for (pugi::xml_node node = document->document.first_child(); node; node = node.next_sibling())
      if (node.type() == pugi::node_element) ++elements;
    if (elements != 1) return nullptr;
    return document;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

kelXMLFile::kelXMLFile() = default;
kelXMLFile::kelXMLFile(const kelXMLFile& other) = default;
kelXMLFile& kelXMLFile::operator=(const kelXMLFile& other) = default;
kelXMLFile::~kelXMLFile() = default;

bool kelXMLFile::open(const wchar_t* path, bool mustExist) {
  close();
  if (path == nullptr || path[0] == L'\0') return false;
  try {
    std::string bytes;
    if (!mox::platform::readWholeFile(path, &bytes, kMaxFileSize)) {
      if (mustExist || mox::platform::fileExists(path) || mox::platform::directoryExists(path)) return false;
      m_document = std::make_shared<Document>();
      m_path = path;
      return true;
    }
    m_document = parse(std::move(bytes));
    if (!m_document) return false;
    m_path = path;
    return true;
  } catch (const std::bad_alloc&) {
    close();
    return false;
  }
}

bool kelXMLFile::open(const std::wstring& path, bool mustExist) { return open(path.c_str(), mustExist); }

bool kelXMLFile::openBuffer(const void* data, std::size_t size) {
  close();
  if (data == nullptr && size != 0) return false;
  try {
    m_document = parse(data != nullptr ? std::string(static_cast<const char*>(data), size) : std::string());
  } catch (const std::bad_alloc&) {
    m_document = nullptr;
  }
  return m_document != nullptr;
}

bool kelXMLFile::create(const wchar_t* rootName, const std::wstring& path) {
  close();
  if (rootName == nullptr) return false;
  const mox::detail::Utf8Name name(rootName);
  if (!mox::detail::isXmlName(name.c_str())) return false;
  try {
    auto document = std::make_shared<Document>();
    if (!document->document.append_child(name.c_str())) return false;
    m_document = std::move(document);
    m_path = path;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool kelXMLFile::isOpen() const { return m_document != nullptr; }

kelXMLNode kelXMLFile::getRootElement() const {
  if (!m_document) return kelXMLNode();
  return kelXMLNode(m_document->document.document_element().internal_object());
}

std::string kelXMLFile::toString() const {
  std::string text;
  if (!m_document) return text;
  try {
    StringWriter writer(&text);
    m_document->document.save(writer, "  ", pugi::format_default, pugi::encoding_utf8);
  } catch (const std::bad_alloc&) {
    text.clear();
  }
  return text;
}

bool kelXMLFile::save() const {
  if (!m_document || m_path.empty()) return false;
  const std::string text = toString();
  if (text.empty()) return false;
  return mox::platform::writeFileAtomically(m_path, text.data(), text.size());
}

bool kelXMLFile::saveAs(const std::wstring& path) {
  if (!m_document || path.empty()) return false;
  const std::string text = toString();
  if (text.empty() || !mox::platform::writeFileAtomically(path, text.data(), text.size())) return false;
  m_path = path;
  return true;
}

void kelXMLFile::close() {
  m_document.reset();
  m_path.clear();
}
