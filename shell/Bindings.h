// Fills the two library tables with the real libraries' entry points.
#pragma once

void InstallLibraryBindings();
