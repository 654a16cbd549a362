// A cursor on one element of an XML document opened with kelXMLFile.
//
// Names and values are wide at this interface and UTF-8 inside the document;
// they are converted here, and invalid text never fails a conversion (it
// becomes U+FFFD).
//
// Lifetime: a node refers into its document and stays usable only while some
// kelXMLFile still holds that document (the file, or a copy of it, is open).
// Using a node after its document was closed and released is undefined, as
// with any iterator into a container that is gone.
//
// Operations that change the document are const: they change the document,
// not the cursor, so a node passed by const reference can still be written
// through (as writers of child elements expect). Nothing reaches the disk
// until kelXMLFile::save or saveAs is called.
//
// Thread-safety: none of its own. Concurrent reads of one unchanging document
// are safe; any change must not overlap another use of the same document.
#pragma once

#include <string>
#include <vector>

#include "mox_utils/export.h"

namespace pugi {
struct xml_node_struct;
}

class MOX_API kelXMLNode {
 public:
  // An invalid node, referring to no element.
  kelXMLNode();
  kelXMLNode(const kelXMLNode& other);
  kelXMLNode& operator=(const kelXMLNode& other);
  ~kelXMLNode();

  // False when the node refers to no element: after a failed lookup, after
  // stepping past the last sibling, and for a default-constructed node.
  bool isValid() const;
  // The element's name; empty for an invalid node.
  std::wstring getName() const;

  // --- Navigation. Only element nodes count: text, comments and processing
  // instructions are stepped over.

  // The first child element, or an invalid node.
  kelXMLNode getFirstChild() const;
  // The first child element with this name. When there is none and `create`
  // is true, a new empty child of that name is appended and returned; with
  // `create` false (or a name that is not a valid XML name) the result is
  // invalid.
  kelXMLNode getChildByName(const wchar_t* name, bool create) const;
  // Every child element with this name, in document order, appended to
  // `nodes` when `append` is true; with `append` false the vector is emptied
  // first. Returns the number of children found.
  int getChildrenByName(std::vector<kelXMLNode>& nodes, const wchar_t* name, bool append) const;
  // Moves onto the first child element with this name; when there is none
  // the node stays where it is and the result is false.
  bool switchToChildByName(const wchar_t* name);
  // Moves to the next sibling element; after the last one the node becomes
  // invalid. Stepping an invalid node leaves it invalid.
  kelXMLNode& operator++();
  kelXMLNode operator++(int);
  // Same as operator++; true when the node moved onto an element.
  bool switchToNextElement();

  // --- Reading. On an invalid node every reader gives its default.

  // The attribute's text, or `defaultValue` (null reads as empty) when the
  // attribute is absent.
  std::wstring getAttribute(const wchar_t* name, const wchar_t* defaultValue) const;
  // The attribute's text as UTF-8, or `defaultValue` (null reads as empty).
  std::string getAttributeANSI(const wchar_t* name, const char* defaultValue) const;
  // The attribute as a decimal integer (surrounding blanks allowed); the
  // default when it is absent, not a number, or out of int range.
  int getAttributeInt(const wchar_t* name, int defaultValue) const;
  // The element's own text (the default when it has none).
  std::wstring getValue(const wchar_t* defaultValue) const;
  // The text of the first child element with this name (possibly empty), or
  // `defaultValue` when there is no such child.
  std::wstring getValueByName(const wchar_t* childName, const wchar_t* defaultValue) const;
  // The text of the named child element read as a number, surrounding blanks
  // allowed. True when the child exists and its whole text is a number in
  // range; otherwise false with `value` untouched. getInt reads decimal
  // integers; getDouble reads decimal and exponent forms ("inf" and "nan"
  // too), independent of the locale.
  bool getInt(const wchar_t* childName, int& value) const;
  bool getDouble(const wchar_t* childName, double& value) const;

  // --- Writing. Each returns true on success; false for an invalid node, a
  // null or invalid XML name, or a failed allocation. A null value is the
  // empty text.

  // Appends a child element, with `value` as its text when value is not null.
  // Returns the new child, or an invalid node.
  kelXMLNode createElement(const wchar_t* name, const wchar_t* value) const;
  // Sets the text of the first child element with this name; when there is
  // none it is created if `create` is true, else the result is false.
  bool setElementChild(const wchar_t* name, const wchar_t* value, bool create) const;
  // Replaces the element's text (its child elements stay).
  bool setValue(const wchar_t* value) const;
  // Removes the element's text (its child elements stay).
  bool removeValue() const;
  // Writes a number as the element's text. `precision` is the count of
  // significant digits (1 to 17; 0 counts as 1, larger values as 17); -1 (or
  // any negative value) writes the shortest text that reads back as exactly
  // the same double, so getDouble returns the value written.
  bool setValueDouble(double value, int precision = -1) const;
  // Sets (adding when absent) an attribute.
  bool setAttribute(const wchar_t* name, const wchar_t* value) const;
  // The value is UTF-8; invalid sequences are stored as U+FFFD.
  bool setAttribute(const wchar_t* name, const char* value) const;
  bool setAttribute(const std::wstring& name, const std::wstring& value) const;
  bool setAttributeInt(const wchar_t* name, int value) const;
  // Removals succeed when the node is left without the item, so removing
  // what is already absent is true as well (writers clear stale items
  // without looking first); false for an invalid node or a null name.
  bool removeAttribute(const wchar_t* name) const;
  // Removes the first child element with this name and everything below it.
  bool removeChildByName(const wchar_t* name) const;

 private:
  friend class kelXMLFile;
  explicit kelXMLNode(pugi::xml_node_struct* node);

  pugi::xml_node_struct* m_node;
};
