#pragma once
// The configuration document and cheap node handles over pugixml.
//
// Names of elements and attributes are compared without regard to ASCII case and
// the first match in document order wins. A handle may be empty; every operation
// on an empty handle does nothing and finds nothing. Handles never own nodes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#ifdef _WIN32
// Windows has no pugixml: the same handles over a small tree that XmlLite fills.
#include "app/XmlTree.h"
using XmlRawNode = XmlTreeNode;
using XmlRawDocument = XmlTreeDocument;
#else
#include <pugixml.hpp>
using XmlRawNode = pugi::xml_node;
using XmlRawDocument = pugi::xml_document;
#endif

class XMLNode {
public:
    XMLNode() = default;
    explicit XMLNode(XmlRawNode node) : node_(node) {}

    [[nodiscard]] explicit operator bool() const { return !node_.empty(); }
    [[nodiscard]] XmlRawNode Raw() const { return node_; }

    // First child element of that name, or an empty handle.
    [[nodiscard]] XMLNode FindChild(const char* name) const;
    // FindChild; when absent (and this is the document or an element) appends an empty element.
    XMLNode GetOrAddChild(const char* name);

    // Value of the first matching attribute ("" when it has none); nullopt when there is no such attribute.
    [[nodiscard]] std::optional<std::string> GetAttributeText(const char* name) const;
    // Sets the first matching attribute, appending it first when missing. True unless the handle is empty.
    bool SetAttributeText(const char* name, const char* text);
    bool SetAttributeText(const char* name, const std::string& text) { return SetAttributeText(name, text.c_str()); }
    // Formatted with "%lld", "%llu", "0x%08x" or the given format, cut to 15 characters.
    bool SetAttributeInt64(const char* name, long long value);
    bool SetAttributeUInt64(const char* name, unsigned long long value);
    bool SetAttributeHex32(const char* name, uint32_t value);
    bool SetAttributeDouble(const char* name, double value, const char* format);

private:
    XmlRawNode node_;
};

// Elements nested deeper than this are refused: nothing this tool writes comes near,
// and every level costs a line of indentation on save (a deep file would explode).
constexpr int XML_MAX_DEPTH = 64;

class XMLParser {
public:
    // Discards the tree and parses the buffer (encoding detected); the buffer is not kept.
    // The tree is UTF-8: when the buffer was in another encoding, or its declaration would
    // make a save read as another, the declaration is replaced by one that names UTF-8,
    // as a save writes UTF-8.
    // A declaration whose value holds a "?>" (it could not be written back) is dropped.
    // Returns whether the parse succeeded; a failed parse keeps what pugixml kept,
    // except for a document nested deeper than XML_MAX_DEPTH, which is dropped whole.
    // LastError then says why.
    bool LoadBuffer(const void* data, size_t size);
    // Why the last LoadBuffer failed ("not well-formed at line 3: ..."); empty after success.
    [[nodiscard]] const std::string& LastError() const { return lastError_; }
    // True when the last LoadBuffer failed because of the nesting depth.
    [[nodiscard]] bool TooDeep() const { return tooDeep_; }
    // Writes the declaration (when the document has none ahead of its first element),
    // then the tree. True when the stream reported no error.
    bool SaveFile(FILE* file) const;
    // The document as text, as SaveFile writes it.
    [[nodiscard]] std::string SaveToString() const;
    // First top-level element of that name, or an empty handle.
    [[nodiscard]] XMLNode FindElement(const char* name) const;
    // The document node itself (for appending top-level elements).
    [[nodiscard]] XMLNode Document() { return XMLNode(doc_); }
    [[nodiscard]] XmlRawNode Root() const { return doc_; }
    void Clear() { doc_.reset(); }
    // Replaces the tree with a copy of other's. Handles into the old tree are invalid afterwards.
    void CopyFrom(const XMLParser& other);

private:
    XmlRawDocument doc_;
    std::string lastError_;
    bool tooDeep_ = false;
};

// Carries the changes that turned `before` into `after` over to `target`, which
// holds another edit of `before` (the same file changed by someone else):
// attributes `after` set or changed, and elements it added, are applied; what
// `after` left as it was, and whatever only `target` holds, stays as in `target`.
// Elements are paired by name (without regard to case) and by their place among
// the siblings of that name. Where both sides changed an attribute, `after` wins,
// except for one both added: `target`'s stays (a program writes its settings
// whether or not they were changed; someone who added the same one did so on
// purpose). An element `target` no longer has comes back only when `after`
// changed something inside it.
void MergeChanges(const XMLParser& before, const XMLParser& after, XMLParser& target);
