// The entry point's Windows effects: message boxes without owner, the process's own
// arguments, and the Platform that connects the decisions to the real roles.
#pragma once

#include <string>
#include <vector>

#include "startup.h"

namespace veltrane {

// Captioned "벨트레인 설정"; returns the button pressed.
int message_box(const std::string& text, unsigned flags);
// Captioned "벨트레인", error icon: only the service's start-up failure.
void service_error_box(const std::string& text);

std::vector<std::u16string> process_arguments();
Platform windows_platform();

}  // namespace veltrane
