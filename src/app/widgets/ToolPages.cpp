#include "app/widgets/ToolPages.h"

#include "app/widgets/CPlaceholderPage.h"
#include "monitor/widgets/CObjectInfoDlg.h"
#include "params/widgets/CParamSettingDlg.h"

std::vector<ToolPageSpec> ToolPageSpecs()
{
    return {
        {1187, "1187",
         [](ToolPageContext& context, QWidget* parent) -> std::unique_ptr<IToolPage> {
             return std::make_unique<CParamSettingDlg>(context, parent);
         }},
        {1188, "1188",
         [](ToolPageContext& context, QWidget* parent) -> std::unique_ptr<IToolPage> {
             return std::make_unique<CObjectInfoDlg>(context, parent);
         }},
        // Until the download window exists: an empty page that takes the port over as it will.
        {1189, "1189",
         [](ToolPageContext&, QWidget* parent) -> std::unique_ptr<IToolPage> {
             return std::make_unique<CPlaceholderPage>(QStringLiteral("DownloadDlg"), true, parent);
         }},
    };
}
