#include "app/XMLParser.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <strings.h>

namespace {

bool SameName(const char* a, const char* b) { return a && b && strcasecmp(a, b) == 0; }

pugi::xml_node FirstChildElement(pugi::xml_node parent, const char* name) {
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && SameName(child.name(), name)) return child;
    return {};
}

pugi::xml_attribute FirstAttribute(pugi::xml_node node, const char* name) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
        if (SameName(a.name(), name)) return a;
    return {};
}

// True when some node lies more than `limit` levels below the document. Walks the
// tree without recursion, so a hostile depth cannot exhaust the stack.
bool DeeperThan(const pugi::xml_node& document, int limit) {
    int depth = 0;
    pugi::xml_node node = document.first_child();
    while (node) {
        if (depth >= limit && node.type() == pugi::node_element) return true;
        if (node.first_child()) {
            node = node.first_child();
            ++depth;
            continue;
        }
        while (node && !node.next_sibling()) {
            node = node.parent();
            --depth;
            if (node == document) return false;
        }
        if (node) node = node.next_sibling();
    }
    return false;
}

// A parse can keep a declaration whose value holds a "?>": an unclosed value runs on
// over the text after it, and pugixml takes a declaration that ends in "/>" with the
// "?>" before it inside a value. Written back, the declaration would end at that "?>"
// and the file would not load again, so such a declaration is dropped (a save writes a
// plain one).
void DropUnwritableDeclarations(pugi::xml_document& doc) {
    for (pugi::xml_node node = doc.first_child(); node;) {
        const pugi::xml_node next = node.next_sibling();
        if (node.type() == pugi::node_declaration) {
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
                if (std::strstr(a.name(), "?>") || std::strstr(a.value(), "?>")) {
                    doc.remove_child(node);
                    break;
                }
            }
        }
        node = next;
    }
}

// The tree holds UTF-8 whatever encoding the file was in, and a save writes UTF-8
// without a byte order mark. A declaration that named another encoding, or that the
// parser would take for naming one (a damaged one can), would make the next load read
// the saved bytes as that encoding: a Latin-1 file's "é" would come back as "Ã©".

// True when a save would start with the document's declaration and the parser would
// then take the saved bytes for another encoding than UTF-8.
bool DeclarationNamesOtherEncoding(const pugi::xml_document& doc) {
    const pugi::xml_node first = doc.first_child();
    if (first.type() != pugi::node_declaration) return false;
    std::ostringstream text;
    first.print(text, "", pugi::format_raw, pugi::encoding_utf8);
    const std::string saved = text.str();
    pugi::xml_document probe;
    return probe.load_buffer(saved.data(), saved.size(), pugi::parse_minimal).encoding != pugi::encoding_utf8;
}

// Replaces every declaration with one that names UTF-8.
void DeclareUtf8(pugi::xml_document& doc) {
    for (pugi::xml_node node = doc.first_child(); node;) {
        const pugi::xml_node next = node.next_sibling();
        if (node.type() == pugi::node_declaration) doc.remove_child(node);
        node = next;
    }
    pugi::xml_node declaration = doc.prepend_child(pugi::node_declaration);
    declaration.append_attribute("version").set_value("1.0");
    declaration.append_attribute("encoding").set_value("UTF-8");
}

// The fixed formats write into a 16-byte buffer, so at most 15 characters survive.
std::string Cut15(const char* text) { return std::string(text, strnlen(text, 15)); }

// pugixml writer over a C stream that remembers a failed write.
struct FileWriter : pugi::xml_writer {
    explicit FileWriter(FILE* f) : file(f) {}
    void write(const void* data, size_t size) override {
        if (std::fwrite(data, 1, size, file) != size) failed = true;
    }
    FILE* file;
    bool failed = false;
};

}  // namespace

XMLNode XMLNode::FindChild(const char* name) const {
    if (!*this || !name) return {};
    return XMLNode(FirstChildElement(node_, name));
}

XMLNode XMLNode::GetOrAddChild(const char* name) {
    if (!*this || !name) return {};
    if (XMLNode found = FindChild(name)) return found;
    if (node_.type() != pugi::node_document && node_.type() != pugi::node_element) return {};
    return XMLNode(node_.append_child(name));
}

std::optional<std::string> XMLNode::GetAttributeText(const char* name) const {
    if (!*this || !name) return std::nullopt;
    const pugi::xml_attribute a = FirstAttribute(node_, name);
    if (!a) return std::nullopt;
    return std::string(a.value());
}

bool XMLNode::SetAttributeText(const char* name, const char* text) {
    if (!*this || !name) return true;
    pugi::xml_attribute a = FirstAttribute(node_, name);
    if (!a && (node_.type() == pugi::node_element || node_.type() == pugi::node_declaration))
        a = node_.append_attribute(name);
    if (a) a.set_value(text ? text : "");
    return true;
}

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
    // Comments, processing instructions and the declaration are kept so that a save writes them back.
    const unsigned flags = pugi::parse_default | pugi::parse_declaration | pugi::parse_comments | pugi::parse_pi;
    const pugi::xml_parse_result result = doc_.load_buffer(data, size, flags);
    if (DeeperThan(doc_, XML_MAX_DEPTH)) {
        doc_.reset();
        tooDeep_ = true;
        lastError_ = "elements nested deeper than " + std::to_string(XML_MAX_DEPTH) + " levels";
        return false;
    }
    DropUnwritableDeclarations(doc_);
    if (result.encoding != pugi::encoding_utf8 || DeclarationNamesOtherEncoding(doc_)) DeclareUtf8(doc_);
    if (!result) {
        const auto* bytes = static_cast<const char*>(data);
        const size_t offset = std::min(static_cast<size_t>(std::max<ptrdiff_t>(result.offset, 0)), size);
        const long line = 1 + std::count(bytes, bytes + offset, '\n');
        lastError_ = "not well-formed at line " + std::to_string(line) + ": " + result.description();
        return false;
    }
    return true;
}

bool XMLParser::SaveFile(FILE* file) const {
    if (!file) return false;
    FileWriter writer(file);
    // pugixml writes the declaration only when the document has none ahead of its first element.
    doc_.save(writer, "\t", pugi::format_default, pugi::encoding_utf8);
    return !writer.failed && !std::ferror(file);
}

std::string XMLParser::SaveToString() const {
    std::ostringstream out;
    doc_.save(out, "\t", pugi::format_default, pugi::encoding_utf8);
    return out.str();
}

void XMLParser::CopyFrom(const XMLParser& other) {
    if (&other == this) return;
    doc_.reset(other.doc_);
    lastError_ = other.lastError_;
    tooDeep_ = other.tooDeep_;
}

XMLNode XMLParser::FindElement(const char* name) const {
    if (!name) return {};
    return XMLNode(FirstChildElement(doc_, name));
}

// ---------------------------------------------------------------- merging two edits

namespace {

// The index-th child element named like `name` (without regard to case); empty when none.
pugi::xml_node NthChildElement(pugi::xml_node parent, const char* name, int index) {
    if (!parent) return {};
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element || !SameName(child.name(), name)) continue;
        if (index-- == 0) return child;
    }
    return {};
}

std::string SubtreeText(pugi::xml_node node) {
    std::ostringstream text;
    if (node) node.print(text, "", pugi::format_raw, pugi::encoding_utf8);
    return text.str();
}

// The nodes of all three trees lie at most XML_MAX_DEPTH deep (deeper files are
// refused when loaded), so the recursion is bounded.
void MergeElement(pugi::xml_node before, pugi::xml_node after, pugi::xml_node target) {
    if (after.type() == pugi::node_element) {
        for (pugi::xml_attribute changed = after.first_attribute(); changed; changed = changed.next_attribute()) {
            const pugi::xml_attribute old = FirstAttribute(before, changed.name());
            if (old && std::strcmp(old.value(), changed.value()) == 0) continue;  // not changed here
            pugi::xml_attribute there = FirstAttribute(target, changed.name());
            if (!old && there) continue;  // both added it: the target's stays
            if (!there) there = target.append_attribute(changed.name());
            there.set_value(changed.value());
        }
    }
    // The k-th child of a name is paired with the k-th of that name on every side.
    for (pugi::xml_node child = after.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element) continue;
        int index = 0;
        for (pugi::xml_node sibling = after.first_child(); sibling != child; sibling = sibling.next_sibling())
            if (sibling.type() == pugi::node_element && SameName(sibling.name(), child.name())) ++index;
        const pugi::xml_node old = NthChildElement(before, child.name(), index);
        const pugi::xml_node there = NthChildElement(target, child.name(), index);
        if (there) {
            MergeElement(old, child, there);
        } else if (!old || SubtreeText(old) != SubtreeText(child)) {
            // Added here, or removed there after a change here: the change is kept.
            target.append_copy(child);
        }
    }
}

}  // namespace

void MergeChanges(const XMLParser& before, const XMLParser& after, XMLParser& target) {
    MergeElement(before.Root(), after.Root(), target.Root());
}
