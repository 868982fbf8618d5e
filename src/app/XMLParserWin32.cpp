// The configuration document on Windows: XmlLite (part of Windows since XP SP3)
// reads the text into an XmlTree, and the tree is written back by hand in the
// layout of the Linux build (tab indentation, one element per line), so a file
// saved on one system reads the same on the other.

#include "app/XMLParser.h"

#include <windows.h>
#include <objidl.h>
#include <shlwapi.h>
// The reader's interface id is defined here: MinGW has no import library for XmlLite.
#include <initguid.h>
#include <xmllite.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <strings.h>

#include "common/WideText.h"

void XmlTreeDocument::reset(const XmlTreeDocument& other)
{
    // Copied without recursion: a tree may be XML_MAX_DEPTH deep and is copied often.
    reset();
    std::vector<std::pair<const XmlTreeItem*, XmlTreeItem*>> work{{&other.Root(), root_.get()}};
    while (!work.empty()) {
        const auto [from, to] = work.back();
        work.pop_back();
        for (const auto& child : from->children) {
            auto copy = std::make_unique<XmlTreeItem>();
            copy->kind = child->kind;
            copy->name = child->name;
            copy->value = child->value;
            copy->attributes = child->attributes;
            copy->parent = to;
            work.emplace_back(child.get(), copy.get());
            to->children.push_back(std::move(copy));
        }
    }
}

namespace {

using Item = XmlTreeItem;

bool SameName(const std::string& a, const char* b) { return b != nullptr && strcasecmp(a.c_str(), b) == 0; }

Item* FirstChildElement(Item* parent, const char* name)
{
    if (parent == nullptr) return nullptr;
    for (const auto& child : parent->children)
        if (child->kind == Item::ELEMENT && SameName(child->name, name)) return child.get();
    return nullptr;
}

std::pair<std::string, std::string>* FirstAttribute(Item* item, const char* name)
{
    if (item == nullptr) return nullptr;
    for (auto& attribute : item->attributes)
        if (SameName(attribute.first, name)) return &attribute;
    return nullptr;
}

// ---------------------------------------------------------------- writing

void Escape(std::string& out, const std::string& text, bool attribute)
{
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += attribute ? "&quot;" : "\""; break;
        // A reader turns line ends and tabs in attribute values into spaces unless they are references.
        case '\n': out += attribute ? "&#10;" : "\n"; break;
        case '\r': out += "&#13;"; break;
        case '\t': out += attribute ? "&#9;" : "\t"; break;
        default: out += c;
        }
    }
}

void WriteAttributes(std::string& out, const Item& item)
{
    for (const auto& [name, value] : item.attributes) {
        out += ' ';
        out += name;
        out += "=\"";
        Escape(out, value, true);
        out += '"';
    }
}

// One item and what lies below it; `indent` < 0 writes it on one line (no layout).
void WriteItem(std::string& out, const Item& item, int indent)
{
    const auto pad = [&](int level) {
        if (indent >= 0) out.append(static_cast<size_t>(level), '\t');
    };
    const char* const end = indent >= 0 ? "\n" : "";
    switch (item.kind) {
    case Item::DOCUMENT:
        for (const auto& child : item.children) WriteItem(out, *child, indent);
        return;
    case Item::DECLARATION:
        pad(indent);
        out += "<?xml";
        WriteAttributes(out, item);
        out += "?>";
        out += end;
        return;
    case Item::COMMENT:
        pad(indent);
        out += "<!--" + item.value + "-->" + end;
        return;
    case Item::PROCESSING_INSTRUCTION:
        pad(indent);
        out += "<?" + item.name + (item.value.empty() ? "" : " " + item.value) + "?>" + end;
        return;
    case Item::DOCTYPE:
        return;
    case Item::TEXT:
        pad(indent);
        Escape(out, item.value, false);
        out += end;
        return;
    case Item::CDATA:
        pad(indent);
        out += "<![CDATA[" + item.value + "]]>" + end;
        return;
    case Item::ELEMENT:
        break;
    }
    pad(indent);
    out += '<';
    out += item.name;
    WriteAttributes(out, item);
    if (item.children.empty()) {
        out += " />";
        out += end;
        return;
    }
    out += '>';
    // An element holding only text keeps it on its line, where a reader finds it unchanged.
    if (item.children.size() == 1 && item.children[0]->kind == Item::TEXT) {
        Escape(out, item.children[0]->value, false);
    } else {
        out += end;
        for (const auto& child : item.children) WriteItem(out, *child, indent >= 0 ? indent + 1 : -1);
        pad(indent);
    }
    out += "</" + item.name + ">" + end;
}

std::string DocumentText(const Item& root)
{
    std::string out;
    // The declaration is written when the document has none ahead of its first element.
    bool declared = false;
    for (const auto& child : root.children) {
        if (child->kind == Item::DECLARATION) declared = true;
        if (child->kind == Item::ELEMENT) break;
    }
    if (!declared) out += "<?xml version=\"1.0\"?>\n";
    WriteItem(out, root, 0);
    return out;
}

// ---------------------------------------------------------------- reading

using CreateXmlReaderFunction = HRESULT(WINAPI*)(REFIID, void**, IMalloc*);

CreateXmlReaderFunction XmlLiteEntry()
{
    static const CreateXmlReaderFunction entry = [] {
        HMODULE module = LoadLibraryW(L"xmllite.dll");
        return module != nullptr
                   ? reinterpret_cast<CreateXmlReaderFunction>(
                         reinterpret_cast<void*>(GetProcAddress(module, "CreateXmlReader")))
                   : nullptr;
    }();
    return entry;
}

template <typename T>
struct ComRelease {
    T* pointer = nullptr;
    ~ComRelease()
    {
        if (pointer != nullptr) pointer->Release();
    }
};

std::string Utf8(const wchar_t* text, UINT length) { return Utf8FromWide(text, length); }

std::string CurrentValue(IXmlReader* reader)
{
    const wchar_t* value = nullptr;
    UINT length = 0;
    return SUCCEEDED(reader->GetValue(&value, &length)) ? Utf8(value, length) : std::string();
}

std::string CurrentName(IXmlReader* reader)
{
    const wchar_t* name = nullptr;
    UINT length = 0;
    return SUCCEEDED(reader->GetQualifiedName(&name, &length)) ? Utf8(name, length) : std::string();
}

void ReadAttributes(IXmlReader* reader, Item& item)
{
    for (HRESULT rc = reader->MoveToFirstAttribute(); rc == S_OK; rc = reader->MoveToNextAttribute()) {
        item.attributes.emplace_back(CurrentName(reader), CurrentValue(reader));
    }
    reader->MoveToElement();
}

std::string DescribeXmlLiteError(HRESULT rc)
{
    struct Reason {
        unsigned long code;
        const char* text;
    };
    static const Reason reasons[] = {
        {MX_E_INPUTEND, "unexpected end of file"},
        {MX_E_ENCODING, "unsupported encoding"},
        {MX_E_ENCODINGSWITCH, "unsupported encoding"},
        {MX_E_ENCODINGSIGNATURE, "unsupported encoding"},
        {WC_E_ENCNAME, "unknown encoding name"},
        {WC_E_SYNTAX, "syntax error"},
        {WC_E_GREATERTHAN, "'>' expected"},
        {WC_E_QUOTE, "quote expected"},
        {WC_E_EQUAL, "'=' expected"},
        {WC_E_LESSTHAN, "'<' where it is not allowed"},
        {WC_E_NAMECHARACTER, "a name holds a character names may not hold"},
        {NC_E_QNAMECHARACTER, "a name holds a character names may not hold"},
        {WC_E_ROOTELEMENT, "no element, or text outside the elements"},
        {WC_E_ELEMENTMATCH, "an end tag does not match its start tag"},
        {WC_E_XMLDECL, "the declaration is not at the start"},
        {WC_E_UNDECLAREDENTITY, "an unknown entity"},
        {WC_E_MOREDATA, "text after the last element"},
        {WC_E_DTDPROHIBITED, "a document type declaration is not accepted"},
    };
    const auto code = static_cast<unsigned long>(rc);
    for (const Reason& reason : reasons) {
        if (reason.code == code) return reason.text;
    }
    char text[80];
    std::snprintf(text, sizeof text, "XmlLite error 0x%08lx", code);
    return text;
}

bool NamesOtherEncoding(const Item& declaration)
{
    for (const auto& [name, value] : declaration.attributes)
        if (name == "encoding" && strcasecmp(value.c_str(), "UTF-8") != 0) return true;
    return false;
}

}  // namespace

XMLNode XMLNode::FindChild(const char* name) const {
    if (!*this || !name) return {};
    return XMLNode(XmlTreeNode(FirstChildElement(node_.Item(), name)));
}

XMLNode XMLNode::GetOrAddChild(const char* name) {
    if (!*this || !name) return {};
    if (XMLNode found = FindChild(name)) return found;
    Item* item = node_.Item();
    if (item->kind != Item::DOCUMENT && item->kind != Item::ELEMENT) return {};
    auto child = std::make_unique<Item>();
    child->kind = Item::ELEMENT;
    child->name = name;
    child->parent = item;
    item->children.push_back(std::move(child));
    return XMLNode(XmlTreeNode(item->children.back().get()));
}

std::optional<std::string> XMLNode::GetAttributeText(const char* name) const {
    if (!*this || !name) return std::nullopt;
    const auto* attribute = FirstAttribute(node_.Item(), name);
    if (attribute == nullptr) return std::nullopt;
    return attribute->second;
}

bool XMLNode::SetAttributeText(const char* name, const char* text) {
    if (!*this || !name) return true;
    Item* item = node_.Item();
    auto* attribute = FirstAttribute(item, name);
    if (attribute == nullptr && (item->kind == Item::ELEMENT || item->kind == Item::DECLARATION)) {
        item->attributes.emplace_back(name, std::string());
        attribute = &item->attributes.back();
    }
    if (attribute != nullptr) attribute->second = text ? text : "";
    return true;
}

namespace {
// The fixed formats write into a 16-byte buffer, so at most 15 characters survive.
std::string Cut15(const char* text) { return std::string(text, strnlen(text, 15)); }
}  // namespace

bool XMLNode::SetAttributeInt64(const char* name, long long value) {
    char text[64];
    std::snprintf(text, sizeof text, "%lld", value);
    return SetAttributeText(name, Cut15(text));
}

bool XMLNode::SetAttributeUInt64(const char* name, unsigned long long value) {
    char text[64];
    std::snprintf(text, sizeof text, "%llu", value);
    return SetAttributeText(name, Cut15(text));
}

bool XMLNode::SetAttributeHex32(const char* name, uint32_t value) {
    char text[64];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return SetAttributeText(name, Cut15(text));
}

bool XMLNode::SetAttributeDouble(const char* name, double value, const char* format) {
    char text[512];
    std::snprintf(text, sizeof text, format ? format : "%f", value);
    return SetAttributeText(name, Cut15(text));
}

bool XMLParser::LoadBuffer(const void* data, size_t size) {
    doc_.reset();
    lastError_.clear();
    tooDeep_ = false;
    if (!data || size == 0) {
        lastError_ = "empty file";
        return false;
    }
    const CreateXmlReaderFunction create = XmlLiteEntry();
    if (create == nullptr) {
        lastError_ = "XmlLite (xmllite.dll) is not available";
        return false;
    }
    ComRelease<IStream> stream{SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(size))};
    ComRelease<IXmlReader> reader;
    if (stream.pointer == nullptr ||
        FAILED(create(IID_IXmlReader, reinterpret_cast<void**>(&reader.pointer), nullptr)) ||
        FAILED(reader.pointer->SetProperty(XmlReaderProperty_DtdProcessing, DtdProcessing_Prohibit)) ||
        FAILED(reader.pointer->SetInput(stream.pointer))) {
        lastError_ = "XmlLite could not be started";
        return false;
    }
    // A document has one top-level element: a file with more is refused here, where the
    // Linux build reads it. (Fragment conformance would read it, but may refuse the
    // declaration every saved file starts with.)
    const auto* bytes = static_cast<const unsigned char*>(data);
    // A byte order mark of UTF-16 or a declaration naming another encoding: the tree is UTF-8 regardless.
    bool otherEncoding = size >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF));

    Item* parent = &doc_.Root();
    int depth = 0;
    XmlNodeType type = XmlNodeType_None;
    HRESULT rc = S_OK;
    while ((rc = reader.pointer->Read(&type)) == S_OK) {
        auto item = std::make_unique<Item>();
        item->parent = parent;
        switch (type) {
        case XmlNodeType_Element: {
            if (depth >= XML_MAX_DEPTH) {
                doc_.reset();
                tooDeep_ = true;
                lastError_ = "elements nested deeper than " + std::to_string(XML_MAX_DEPTH) + " levels";
                return false;
            }
            item->kind = Item::ELEMENT;
            item->name = CurrentName(reader.pointer);
            const bool empty = reader.pointer->IsEmptyElement() != FALSE;
            ReadAttributes(reader.pointer, *item);
            Item* element = item.get();
            parent->children.push_back(std::move(item));
            if (!empty) {
                parent = element;
                ++depth;
            }
            continue;
        }
        case XmlNodeType_EndElement:
            if (parent->parent != nullptr) parent = parent->parent;
            --depth;
            continue;
        case XmlNodeType_XmlDeclaration:
            item->kind = Item::DECLARATION;
            ReadAttributes(reader.pointer, *item);
            otherEncoding = otherEncoding || NamesOtherEncoding(*item);
            break;
        case XmlNodeType_Comment:
            item->kind = Item::COMMENT;
            item->value = CurrentValue(reader.pointer);
            break;
        case XmlNodeType_ProcessingInstruction:
            item->kind = Item::PROCESSING_INSTRUCTION;
            item->name = CurrentName(reader.pointer);
            item->value = CurrentValue(reader.pointer);
            break;
        case XmlNodeType_Text:
            item->kind = Item::TEXT;
            item->value = CurrentValue(reader.pointer);
            break;
        case XmlNodeType_CDATA:
            item->kind = Item::CDATA;
            item->value = CurrentValue(reader.pointer);
            break;
        default:  // white space between elements, the document type
            continue;
        }
        parent->children.push_back(std::move(item));
    }
    if (otherEncoding) {
        auto& children = doc_.Root().children;
        children.erase(std::remove_if(children.begin(), children.end(),
                                      [](const auto& child) { return child->kind == Item::DECLARATION; }),
                       children.end());
        auto declaration = std::make_unique<Item>();
        declaration->kind = Item::DECLARATION;
        declaration->parent = &doc_.Root();
        declaration->attributes = {{"version", "1.0"}, {"encoding", "UTF-8"}};
        children.insert(children.begin(), std::move(declaration));
    }
    if (FAILED(rc)) {
        UINT line = 0;
        reader.pointer->GetLineNumber(&line);
        lastError_ = "not well-formed at line " + std::to_string(line == 0 ? 1 : line) + ": " + DescribeXmlLiteError(rc);
        return false;
    }
    if (depth != 0) {
        lastError_ = "not well-formed: " + DescribeXmlLiteError(static_cast<HRESULT>(MX_E_INPUTEND));
        return false;
    }
    return true;
}

bool XMLParser::SaveFile(FILE* file) const {
    if (!file) return false;
    const std::string text = DocumentText(doc_.Root());
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() && !std::ferror(file);
}

std::string XMLParser::SaveToString() const { return DocumentText(doc_.Root()); }

void XMLParser::CopyFrom(const XMLParser& other) {
    if (&other == this) return;
    doc_.reset(other.doc_);
    lastError_ = other.lastError_;
    tooDeep_ = other.tooDeep_;
}

XMLNode XMLParser::FindElement(const char* name) const {
    if (!name) return {};
    return XMLNode(XmlTreeNode(FirstChildElement(&doc_.Root(), name)));
}

// ---------------------------------------------------------------- merging two edits

namespace {

Item* NthChildElement(Item* parent, const std::string& name, int index) {
    if (parent == nullptr) return nullptr;
    for (const auto& child : parent->children) {
        if (child->kind != Item::ELEMENT || !SameName(child->name, name.c_str())) continue;
        if (index-- == 0) return child.get();
    }
    return nullptr;
}

std::string SubtreeText(const Item* item) {
    std::string out;
    if (item != nullptr) WriteItem(out, *item, -1);
    return out;
}

std::unique_ptr<Item> DeepCopy(const Item& from, Item* parent) {
    auto copy = std::make_unique<Item>();
    copy->kind = from.kind;
    copy->name = from.name;
    copy->value = from.value;
    copy->attributes = from.attributes;
    copy->parent = parent;
    for (const auto& child : from.children) copy->children.push_back(DeepCopy(*child, copy.get()));
    return copy;
}

// The nodes of all three trees lie at most XML_MAX_DEPTH deep (deeper files are
// refused when loaded), so the recursion is bounded.
void MergeElement(Item* before, const Item* after, Item* target) {
    if (after->kind == Item::ELEMENT) {
        for (const auto& [name, value] : after->attributes) {
            const auto* old = FirstAttribute(before, name.c_str());
            if (old != nullptr && old->second == value) continue;  // not changed here
            auto* there = FirstAttribute(target, name.c_str());
            if (old == nullptr && there != nullptr) continue;  // both added it: the target's stays
            if (there == nullptr) {
                target->attributes.emplace_back(name, std::string());
                there = &target->attributes.back();
            }
            there->second = value;
        }
    }
    // The k-th child of a name is paired with the k-th of that name on every side.
    for (size_t i = 0; i < after->children.size(); ++i) {
        const Item* child = after->children[i].get();
        if (child->kind != Item::ELEMENT) continue;
        int index = 0;
        for (size_t j = 0; j < i; ++j)
            if (after->children[j]->kind == Item::ELEMENT && SameName(after->children[j]->name, child->name.c_str())) ++index;
        Item* old = NthChildElement(before, child->name, index);
        Item* there = NthChildElement(target, child->name, index);
        if (there != nullptr) {
            MergeElement(old, child, there);
        } else if (old == nullptr || SubtreeText(old) != SubtreeText(child)) {
            // Added here, or removed there after a change here: the change is kept.
            target->children.push_back(DeepCopy(*child, target));
        }
    }
}

}  // namespace

void MergeChanges(const XMLParser& before, const XMLParser& after, XMLParser& target) {
    MergeElement(before.Root().Item(), after.Root().Item(), target.Root().Item());
}
