#pragma once

// Keeps what the program stores per user (recordings, settings, the file
// dialogs' last folder) out of the developer's own folders: on Linux the
// data and configuration homes point into a temporary folder that lives as
// long as the process and is passed on to child processes; elsewhere Qt's
// test locations are used. Call before the application object exists.
void keepOutOfUserFolders();
