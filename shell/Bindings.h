// Fill the two library tables with the real libraries' entry points. They are
// apart so that a program (or test) using only one library links only that
// one.
#pragma once

void InstallModbusLibrary();
void InstallTagServerLibrary();
