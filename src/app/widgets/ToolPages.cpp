#include "app/widgets/ToolPages.h"

#include "firmware/widgets/FirmwarePage.h"
#include "session/widgets/SensorThread.h"
#include "monitor/widgets/TargetPage.h"
#include "params/widgets/ParameterPage.h"

std::vector<ToolPageSpec> ToolPageSpecs()
{
    return {
        {1187, "1187", "params",
         [](ToolPageContext& context, QWidget* parent) -> std::unique_ptr<IToolPage> {
             return std::make_unique<ParameterPage>(context, parent);
         }},
        {1188, "1188", "target",
         [](ToolPageContext& context, QWidget* parent) -> std::unique_ptr<IToolPage> {
             return std::make_unique<TargetPage>(context, parent);
         }},
        {1189, "1189", "firmware",
         [](ToolPageContext& context, QWidget* parent) -> std::unique_ptr<IToolPage> {
             return std::make_unique<FirmwarePage>(context, parent);
         }},
    };
}
