// The framework's "Save As" prompt for a document that has no file yet. The
// window program installs a file dialog; without one the proposed path is
// taken as it stands, so that the program saves unattended.
#pragma once

#include <functional>
#include <string>

// Returns the path chosen for the document, or empty when the operator
// cancelled.
std::string AfxPromptSaveAs(const std::string& proposedPath);

// Replaces the prompt; an empty function restores taking the proposal.
void SetSaveAsHandler(std::function<std::string(const std::string&)> handler);
