#include "app/widgets/ToolPages.h"

#include "firmware/widgets/CDownloadDlg.h"
#include "session/widgets/SensorThread.h"
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
        {1189, "1189",
         [](ToolPageContext& context, QWidget* parent) -> std::unique_ptr<IToolPage> {
             return std::make_unique<CDownloadDlg>(context.sensor.Session(), parent);
         }},
    };
}
