#include "mox_utils/xml/kelXMLFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mox_utils/platform/File.h"
#include "mox_utils/platform/Text.h"
#include "support/ScratchDir.h"

namespace {

// Paths are handed to the library in Windows form, with backslashes.
class XmlFileTest : public ::testing::Test {
 protected:
  std::wstring path(const std::wstring& name) const { return m_scratch.windows(name); }
  void writeBytes(const std::wstring& name, const std::string& bytes) const {
    ASSERT_TRUE(mox::platform::writeFileAtomically(path(name), bytes.data(), bytes.size()));
  }

  mox::test::ScratchDir m_scratch;
  const std::wstring m_dir = m_scratch.windows();
};

const std::string kSample =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<config version=\"3\">\n"
    "  <!-- a comment -->\n"
    "  <path name=\"Settings\" location=\"settings\"/>\n"
    "  <path name=\"Logs\" location=\"/var/log/scanner\"/>\n"
    "</config>\n";

TEST(XmlFileReadTest, UnreadableInputIsRefused) {
  std::vector<std::string> inputs = {std::string("\x00\xff\x10\x80", 4), "<a><b></a></b>", "<a/><b/>", "<a x=1/>"};
  // The sample's root closes only in its last line, so every strict prefix
  // that cuts before the closing '>' is incomplete; the empty text among them.
  for (std::size_t length = 0; length < kSample.rfind('>'); ++length) inputs.push_back(kSample.substr(0, length));
  for (const std::string& bytes : inputs) {
    SCOPED_TRACE(bytes);
    kelXMLFile file;
    EXPECT_FALSE(file.openBuffer(bytes.data(), bytes.size()));
    EXPECT_FALSE(file.isOpen() || file.getRootElement().isValid());
  }
  kelXMLFile whole;
  EXPECT_TRUE(whole.openBuffer(kSample.data(), kSample.size()));
}

TEST_F(XmlFileTest, MissingFileDependsOnMustExist) {
  kelXMLFile file;
  EXPECT_FALSE(file.open(path(L"missing.xml"), true));
  EXPECT_FALSE(file.open(L"", true));
  EXPECT_FALSE(file.open(static_cast<const wchar_t*>(nullptr), true));
  EXPECT_FALSE(file.open(m_dir, false)) << "a directory is not a missing file";

  // A writer may start a file that does not exist yet.
  ASSERT_TRUE(file.open(path(L"new.xml"), false));
  EXPECT_FALSE(file.getRootElement().isValid());
  EXPECT_FALSE(file.save()) << "a document without a root could not be read back";
  EXPECT_FALSE(mox::platform::fileExists(path(L"new.xml")));
  ASSERT_TRUE(file.create(L"settings", file.getPath()));
  ASSERT_TRUE(file.save());
  kelXMLFile reread;
  EXPECT_TRUE(reread.open(path(L"new.xml"), true));

  // A file that exists but is broken is never replaced by an empty document,
  // and the document open before is closed.
  writeBytes(L"broken.xml", "<a>");
  EXPECT_FALSE(file.open(path(L"broken.xml"), false));
  EXPECT_FALSE(file.isOpen());
}

TEST_F(XmlFileTest, ChangesReachDiskOnlyOnSave) {
  writeBytes(L"doc.xml", kSample);
  kelXMLFile file;
  ASSERT_TRUE(file.open(path(L"doc.xml"), true));
  ASSERT_TRUE(file.getRootElement().setAttribute(L"version", L"4"));

  kelXMLFile before;
  ASSERT_TRUE(before.open(path(L"doc.xml"), true));
  EXPECT_EQ(before.getRootElement().getAttributeInt(L"version", 0), 3);

  ASSERT_TRUE(file.save());
  EXPECT_TRUE(file.isOpen());
  // Reloading from its own path (a reference to text that open replaces).
  ASSERT_TRUE(file.open(file.getPath(), true));
  EXPECT_EQ(file.getPath(), path(L"doc.xml"));
  kelXMLFile after;
  ASSERT_TRUE(after.open(path(L"doc.xml"), true));
  EXPECT_EQ(after.getRootElement().getAttributeInt(L"version", 0), 4);
  // The comment and both entries survive the rewrite.
  EXPECT_NE(after.toString().find("<!-- a comment -->"), std::string::npos);
  EXPECT_EQ(after.getRootElement().getFirstChild().getAttribute(L"name", L""), L"Settings");

  std::vector<mox::platform::DirectoryEntry> entries;
  ASSERT_TRUE(mox::platform::listDirectory(m_dir, &entries));
  EXPECT_EQ(entries.size(), 1u) << "no temporary file is left behind";
}

TEST_F(XmlFileTest, CreatedDocumentRoundTripsNonAsciiText) {
  kelXMLFile file;
  ASSERT_TRUE(file.create(L"r\u00e9glages"));
  const kelXMLNode root = file.getRootElement();
  const kelXMLNode probe = root.createElement(L"probe", L"3.5 MHz \u2013 \u00b5m <&>\"'");
  ASSERT_TRUE(probe.isValid());
  ASSERT_TRUE(probe.setAttribute(L"name", L"C5\u20132 \U0001F600"));
  ASSERT_TRUE(probe.setAttribute(L"raw", "caf\xC3\xA9 \xFF"));  // one invalid byte
  EXPECT_FALSE(file.save()) << "a created document has no path yet";
  ASSERT_TRUE(file.saveAs(path(L"out.xml")));
  EXPECT_EQ(file.getPath(), path(L"out.xml"));

  std::string bytes;
  ASSERT_TRUE(mox::platform::readWholeFile(path(L"out.xml"), &bytes));
  EXPECT_NE(bytes.find("<r\xC3\xA9glages>"), std::string::npos) << bytes;

  kelXMLFile back;
  ASSERT_TRUE(back.open(path(L"out.xml"), true));
  const kelXMLNode read = back.getRootElement();
  EXPECT_EQ(read.getName(), L"r\u00e9glages");
  EXPECT_EQ(read.getValueByName(L"probe", L"?"), L"3.5 MHz \u2013 \u00b5m <&>\"'");
  const kelXMLNode readProbe = read.getChildByName(L"probe", false);
  EXPECT_EQ(readProbe.getAttribute(L"name", L""), L"C5\u20132 \U0001F600");
  EXPECT_EQ(readProbe.getAttribute(L"raw", L""), L"caf\u00e9 \uFFFD");
  EXPECT_EQ(readProbe.getAttributeANSI(L"raw", ""), "caf\xC3\xA9 \xEF\xBF\xBD");
}

TEST(XmlFileReadTest, ReadsDeclaredAndMarkedEncodings) {
  // "<a v="é"/>" in UTF-16LE with a byte order mark, and in Latin-1 declared.
  std::string utf16 = "\xFF\xFE";
  for (const char16_t c : std::u16string(u"<a v=\"\u00e9\"/>")) {
    utf16.push_back(static_cast<char>(c & 0xFF));
    utf16.push_back(static_cast<char>(c >> 8));
  }
  const std::string latin1 = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a v=\"\xE9\"/>";
  for (const std::string& bytes : {utf16, latin1}) {
    kelXMLFile file;
    ASSERT_TRUE(file.openBuffer(bytes.data(), bytes.size()));
    EXPECT_EQ(file.getRootElement().getAttribute(L"v", L""), L"\u00e9");
  }
}

TEST(XmlFileReadTest, CopiesShareTheDocument) {
  kelXMLFile first;
  ASSERT_TRUE(first.create(L"root"));
  kelXMLNode root = first.getRootElement();
  {
    kelXMLFile second(first);
    first.close();
    EXPECT_FALSE(first.isOpen());
    // The copy keeps the document, and nodes into it, alive.
    ASSERT_TRUE(root.setAttribute(L"k", L"v"));
    EXPECT_EQ(second.getRootElement().getAttribute(L"k", L""), L"v");
  }
  EXPECT_FALSE(kelXMLFile().create(L"1bad"));
  EXPECT_FALSE(kelXMLFile().create(nullptr));
}

TEST_F(XmlFileTest, RefusesOversizedFile) {
  // Sized just past the limit without writing it: a sparse file.
  const std::wstring name = path(L"big.xml");
  std::FILE* f = mox::platform::openFile(name, "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fseek(f, static_cast<long>(kelXMLFile::kMaxFileSize), SEEK_SET), 0);
  ASSERT_EQ(std::fputc('>', f), '>');
  std::fclose(f);
  kelXMLFile file;
  EXPECT_FALSE(file.open(name, true));
}

}  // namespace
