// Message boxes of the operator's own actions. The window program shows them
// as boxes with the application title as caption; the headless program writes
// their text to standard error.
#pragma once

#include <functional>
#include <string>

constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;

int AfxMessageBox(const std::string& text, unsigned type = MB_OK);

void SetMessageBoxHandler(std::function<int(const std::string&, unsigned)> handler);
