#pragma once
// The configuration tree of Windows builds: what the XML handles need and no more.
// XMLParserWin32.cpp fills it with XmlLite and writes it back as text.
//
// A document owns all its items; an XmlTreeNode is a cheap handle that may be
// empty and never owns. Names and values are UTF-8.

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct XmlTreeItem {
    enum Kind { DOCUMENT, ELEMENT, DECLARATION, COMMENT, PROCESSING_INSTRUCTION, TEXT, CDATA, DOCTYPE };
    Kind kind = ELEMENT;
    std::string name;   // element or instruction target
    std::string value;  // text, comment, instruction body
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<std::unique_ptr<XmlTreeItem>> children;
    XmlTreeItem* parent = nullptr;
};

class XmlTreeNode {
public:
    XmlTreeNode() = default;
    explicit XmlTreeNode(XmlTreeItem* item) : item_(item) {}
    [[nodiscard]] bool empty() const { return item_ == nullptr; }
    [[nodiscard]] XmlTreeItem* Item() const { return item_; }
    bool operator==(const XmlTreeNode& other) const { return item_ == other.item_; }

private:
    XmlTreeItem* item_ = nullptr;
};

class XmlTreeDocument {
public:
    XmlTreeDocument() { reset(); }
    XmlTreeDocument(const XmlTreeDocument&) = delete;
    XmlTreeDocument& operator=(const XmlTreeDocument&) = delete;

    // Drops every item; the document is empty afterwards.
    void reset()
    {
        root_ = std::make_unique<XmlTreeItem>();
        root_->kind = XmlTreeItem::DOCUMENT;
    }
    // Replaces the items with a deep copy of other's.
    void reset(const XmlTreeDocument& other);
    operator XmlTreeNode() const { return XmlTreeNode(root_.get()); }
    [[nodiscard]] XmlTreeItem& Root() const { return *root_; }

private:
    std::unique_ptr<XmlTreeItem> root_;
};
