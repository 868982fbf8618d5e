// The configuration document of Windows builds (XmlLite underneath): what a file
// holds comes back after a save, in the layout the Linux build writes.

#include <gtest/gtest.h>

#include <string>

#include "app/XMLParser.h"

namespace {

std::string Resaved(const std::string& text)
{
    XMLParser doc;
    EXPECT_TRUE(doc.LoadBuffer(text.data(), text.size())) << doc.LastError();
    return doc.SaveToString();
}

// Latin-1 text as UTF-16 little-endian with its byte order mark.
std::string Utf16Le(const std::string& latin1)
{
    std::string bytes = "\xff\xfe";
    for (const char c : latin1) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

TEST(XmlDocumentWin32, SavesInTheLinuxLayout)
{
    EXPECT_EQ(Resaved("<AppConfig><ParamSetting A=\"1\" B=\"x\"/><Empty></Empty></AppConfig>"),
              "<?xml version=\"1.0\"?>\n<AppConfig>\n\t<ParamSetting A=\"1\" B=\"x\" />\n\t<Empty />\n</AppConfig>\n");
    // A declaration ahead of the first element is kept and no second one is added.
    EXPECT_EQ(Resaved("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a/>"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a />\n");
}

TEST(XmlDocumentWin32, ValuesCommentsAndInstructionsSurviveTwoRoundTrips)
{
    const std::string original =
        "<?xml version=\"1.0\"?>\n<!-- kept -->\n<?tool mode=\"1\"?>\n"
        "<AppConfig Note=\"a &amp; b &lt;c&gt; &quot;d&quot;\" Name=\"\xe9\x9b\xb7\xe8\xbe\xbe\">"
        "<Text>one &amp; two</Text></AppConfig>";
    const std::string once = Resaved(original);
    EXPECT_EQ(Resaved(once), once);
    XMLParser doc;
    ASSERT_TRUE(doc.LoadBuffer(once.data(), once.size()));
    const XMLNode app = doc.FindElement("appconfig");
    ASSERT_TRUE(app);
    EXPECT_EQ(app.GetAttributeText("note").value_or("?"), "a & b <c> \"d\"");
    EXPECT_EQ(app.GetAttributeText("Name").value_or("?"), "\xe9\x9b\xb7\xe8\xbe\xbe");
    EXPECT_NE(once.find("<!-- kept -->"), std::string::npos) << once;
    EXPECT_NE(once.find("<?tool mode=\"1\"?>"), std::string::npos) << once;
    EXPECT_NE(once.find("<Text>one &amp; two</Text>"), std::string::npos) << once;
}

TEST(XmlDocumentWin32, NamesMatchWithoutCaseAndTheFirstWins)
{
    const std::string text = "<appconfig baudrate=\"256000\" BAUDRATE=\"9600\"><paramsetting/><ParamSetting Second=\"1\"/></appconfig>";
    XMLParser doc;
    ASSERT_TRUE(doc.LoadBuffer(text.data(), text.size())) << doc.LastError();
    XMLNode app = doc.FindElement("AppConfig");
    EXPECT_EQ(app.GetAttributeText("BaudRate").value_or("?"), "256000");
    EXPECT_TRUE(app.GetOrAddChild("PARAMSETTING").Raw() == app.FindChild("ParamSetting").Raw());
    EXPECT_FALSE(app.FindChild("ParamSetting").GetAttributeText("Second"));
    XMLNode added = app.GetOrAddChild("Monitor");
    added.SetAttributeHex32("Mask", 0x1F);
    EXPECT_EQ(app.FindChild("monitor").GetAttributeText("mask").value_or("?"), "0x0000001f");
    // An empty handle does nothing and finds nothing.
    XMLNode none = app.FindChild("Missing");
    EXPECT_FALSE(none);
    EXPECT_FALSE(none.GetOrAddChild("x"));
    EXPECT_FALSE(none.GetAttributeText("x"));
}

TEST(XmlDocumentWin32, OtherEncodingsAreReadAndSavedAsUtf8)
{
    // "<a v="é"/>" in UTF-16 with its byte order mark, and with a declaration that says so.
    // (Wine's XmlLite reads no 8-bit encoding but UTF-8, so Latin-1 is not among them.)
    const std::string utf16 = Utf16Le("<a v=\"\xe9\"/>");
    const std::string declared = Utf16Le("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a v=\"\xe9\"/>");
    for (const std::string& text : {utf16, declared}) {
        XMLParser doc;
        ASSERT_TRUE(doc.LoadBuffer(text.data(), text.size())) << doc.LastError();
        EXPECT_EQ(doc.FindElement("a").GetAttributeText("v").value_or("?"), "\xc3\xa9");
        const std::string saved = doc.SaveToString();
        EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << saved;
        XMLParser again;
        ASSERT_TRUE(again.LoadBuffer(saved.data(), saved.size())) << again.LastError();
        EXPECT_EQ(again.FindElement("a").GetAttributeText("v").value_or("?"), "\xc3\xa9");
    }
}

TEST(XmlDocumentWin32, BadDocumentsAreRefusedAndSayWhy)
{
    struct Case {
        std::string text;
        std::string reason;
    };
    std::string deep;
    for (int i = 0; i <= XML_MAX_DEPTH; ++i) deep += "<a>";
    const Case cases[] = {
        {"", "empty file"},
        {"<AppConfig>\n<ParamSetting>\n</AppConfig>", "line 3"},
        {"<!DOCTYPE a [<!ENTITY x \"y\">]><a>&x;</a>", "not well-formed"},
        // Refused; Wine's XmlLite gives no end-of-file error, so the reason is not checked.
        {"<AppConfig>", ""},
        {deep, "nested deeper"},
    };
    for (const Case& c : cases) {
        XMLParser doc;
        EXPECT_FALSE(doc.LoadBuffer(c.text.data(), c.text.size())) << c.text;
        EXPECT_NE(doc.LastError().find(c.reason), std::string::npos) << c.text << " -> " << doc.LastError();
    }
    XMLParser doc;
    EXPECT_FALSE(doc.LoadBuffer(deep.data(), deep.size()));
    EXPECT_TRUE(doc.TooDeep());
    EXPECT_FALSE(doc.FindElement("a"));
}

TEST(XmlDocumentWin32, MergeCarriesChangesOverToAnotherEdit)
{
    XMLParser before, after, target;
    const std::string base = "<AppConfig A=\"1\" B=\"1\"><P X=\"1\"/></AppConfig>";
    const std::string mine = "<AppConfig A=\"2\" B=\"1\" N=\"new\"><P X=\"1\"/><Added/></AppConfig>";
    const std::string theirs = "<AppConfig A=\"1\" B=\"3\"><P X=\"5\"/><Theirs/></AppConfig>";
    ASSERT_TRUE(before.LoadBuffer(base.data(), base.size()));
    ASSERT_TRUE(after.LoadBuffer(mine.data(), mine.size()));
    ASSERT_TRUE(target.LoadBuffer(theirs.data(), theirs.size()));
    MergeChanges(before, after, target);
    const XMLNode app = target.FindElement("AppConfig");
    EXPECT_EQ(app.GetAttributeText("A").value_or("?"), "2");
    EXPECT_EQ(app.GetAttributeText("B").value_or("?"), "3");
    EXPECT_EQ(app.GetAttributeText("N").value_or("?"), "new");
    EXPECT_EQ(app.FindChild("P").GetAttributeText("X").value_or("?"), "5");
    EXPECT_TRUE(app.FindChild("Added"));
    EXPECT_TRUE(app.FindChild("Theirs"));
    // A copy is deep: changing it leaves the original alone.
    XMLParser copy;
    copy.CopyFrom(target);
    copy.FindElement("AppConfig").SetAttributeText("A", "9");
    EXPECT_EQ(app.GetAttributeText("A").value_or("?"), "2");
}

}  // namespace
