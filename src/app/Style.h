#pragma once

class IDialogs;

// Applies the dark "Cyan Night" look the program carries with it. When it
// can't be applied, an error box says so and the default look stays.
bool ApplyCyanNight(IDialogs& dialogs, const char* resourcePath = ":/cyan_night.qss");
