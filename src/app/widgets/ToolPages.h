#pragma once
// The pages of the main window, in button order.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/widgets/IToolPage.h"

struct ToolPageSpec {
    int buttonId;           // the page button (1187, 1188, 1189)
    std::string captionKey; // its caption in template 1000
    // Builds the page as a child of parent.
    std::function<std::unique_ptr<IToolPage>(ToolPageContext& context, QWidget* parent)> create;
};

// Parameters, target information, firmware update.
[[nodiscard]] std::vector<ToolPageSpec> ToolPageSpecs();
