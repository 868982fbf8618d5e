// Configuration loader under libFuzzer. The input is the content of appConfig.xml in a
// data folder of this process's own, loaded as the program starts; the same bytes are
// also read as a parameter file is, into a document of their own. Checked:
// - the loader refuses the file exactly when an element lies more than 64 levels deep
//   (counted here on a separate parse of the same bytes); a refused file stays byte for
//   byte as it was, also when a save is asked for, and the settings start from an empty
//   AppConfig;
// - a file the loader takes stays as it was when it has an AppConfig element at the
//   top, and otherwise holds exactly the document with the element added;
// - what the loader took, damaged files included, saves, loads again without a parse
//   error, saves to the same text, and gives the same parameter record, current
//   constants and language;
// - a parameter file's document has an error text exactly when its parse failed, and
//   one refused for its depth keeps nothing.

#include <strings.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "FuzzCheck.h"
#include "FuzzFiles.h"
#include "SameValues.h"
#include "app/AppConfig.h"
#include "app/XMLParser.h"
#include "common/FileUtils.h"
#include "monitor/CurrentEstimate.h"
#include "params/ParamSetting.h"

namespace {

struct Values {
    ParamSetting params;
    CurrentConstants constants;
    std::string language;
};

Values ReadValues(XMLNode appConfig) {
    Values v;
    LoadParamSetting(appConfig.FindChild("ParamSetting"), v.params);
    LoadCurrentConstants(appConfig.FindChild("ObjectInfo"), v.constants);
    v.language = LanguageNameFromConfig(appConfig.GetAttributeText("Language"));
    return v;
}

bool SameValues(const Values& a, const Values& b) {
    return SameParams(a.params, b.params) && SameConstants(a.constants, b.constants) && a.language == b.language;
}

// What the loader should see in the bytes, worked out on a parse of its own: the
// deepest element's level, counting every node above it (a damaged declaration can
// hold elements too; top-level nodes are level 1), and whether there is a top-level
// AppConfig element.
struct Shape {
    int deepest = 0;
    bool hasAppConfig = false;
};

Shape ShapeOf(const uint8_t* data, size_t size) {
    Shape shape;
    pugi::xml_document doc;
    if (size == 0) return shape;
    doc.load_buffer(data, size, pugi::parse_default | pugi::parse_declaration | pugi::parse_comments | pugi::parse_pi);
    std::vector<std::pair<pugi::xml_node, int>> stack;
    for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling()) {
        if (n.type() == pugi::node_element && strcasecmp(n.name(), "AppConfig") == 0) shape.hasAppConfig = true;
        stack.emplace_back(n, 1);
    }
    while (!stack.empty()) {
        const auto [node, level] = stack.back();
        stack.pop_back();
        if (node.type() == pugi::node_element && level > shape.deepest) shape.deepest = level;
        for (pugi::xml_node n = node.first_child(); n; n = n.next_sibling()) stack.emplace_back(n, level + 1);
    }
    return shape;
}

std::string FileText(const std::string& path) {
    std::string bytes;
    FUZZ_CHECK(ReadWhole(path, bytes));
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = [] {
        SetProgramPathOverride(FuzzTempRoot());
        return FuzzTempRoot();
    }();
    const std::string path = GetAppConfigPath();
    FUZZ_CHECK(path == CombinePathName(folder, "appConfig.xml"));
    const std::string input(reinterpret_cast<const char*>(data), size);
    const Shape shape = ShapeOf(data, size);
    const bool tooDeep = shape.deepest > XML_MAX_DEPTH;

    // As a parameter file.
    bool parsed = false;
    {
        XMLParser doc;
        parsed = doc.LoadBuffer(data, size);
        FUZZ_CHECK(parsed == doc.LastError().empty());
        FUZZ_CHECK(doc.TooDeep() == tooDeep);
        if (doc.TooDeep()) FUZZ_CHECK(!parsed && !doc.Document().Raw().first_child());
    }

    // As the program's own configuration: a file that does not parse is refused whole
    // and left alone (an empty file is no configuration yet).
    WriteWhole(path, data, size);
    XMLNode appConfig = LoadAppConfig();
    FUZZ_CHECK(appConfig);
    if (size > 0 && !parsed) {
        FUZZ_CHECK(!AppConfigRefusal().empty());
        FUZZ_CHECK(!appConfig.Raw().first_attribute() && !appConfig.Raw().first_child());
        FUZZ_CHECK(FileText(path) == input);
        FUZZ_CHECK(!SaveAppConfig());
        FUZZ_CHECK(FileText(path) == input);
        gAppConfigDoc.Clear();
        return 0;
    }
    FUZZ_CHECK(AppConfigRefusal().empty());
    const std::string text = gAppConfigDoc.SaveToString();
    FUZZ_CHECK(FileText(path) == (shape.hasAppConfig ? input : text));
    const Values first = ReadValues(appConfig);

    FUZZ_CHECK(SaveAppConfig());
    FUZZ_CHECK(FileText(path) == text);
    appConfig = LoadAppConfig();
    FUZZ_CHECK(appConfig && AppConfigRefusal().empty());
    FUZZ_CHECK(gAppConfigDoc.LastError().empty());
    FUZZ_CHECK(gAppConfigDoc.SaveToString() == text);
    FUZZ_CHECK(SameValues(ReadValues(appConfig), first));
    FUZZ_CHECK(FileText(path) == text);
    gAppConfigDoc.Clear();
    return 0;
}
