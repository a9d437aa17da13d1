// Message boxes of the window program: modal boxes captioned with the
// application title.
#pragma once

// Routes AfxMessageBox to Qt message boxes.
void InstallWidgetMessageBox();
