#pragma once
// The pages of the main window, in button order.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/widgets/IToolPage.h"

struct ToolPageSpec {
    int buttonId;           // the page button's control id
    std::string captionKey; // its caption in template 1000
    std::string name;       // for --page
    // Builds the page as a child of parent.
    std::function<std::unique_ptr<IToolPage>(ToolPageContext& context, QWidget* parent)> create;
};

// Parameters, target information, firmware update.
[[nodiscard]] std::vector<ToolPageSpec> ToolPageSpecs();
