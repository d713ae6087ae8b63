#pragma once

class IDialogs;

// What start-up does between creating the application object and creating
// the main window: the application title, Qt's own texts in Chinese and the
// dark look. main() and the tests call this one function.
void PrepareApplication(IDialogs& dialogs);

// Loads Qt's Chinese translation whatever the locale, since every text of
// the window is Chinese. False when it is not installed; the boxes then keep
// Qt's English button texts.
bool LoadQtChinese();
