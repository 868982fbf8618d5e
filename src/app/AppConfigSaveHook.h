#pragma once
// A hook that runs after the new configuration is written to its temporary file and
// before it replaces appConfig.xml. Tests use it to stop a save at its worst moment.

using AppConfigBeforeRenameHook = void (*)(const char* temporaryPath);
void SetAppConfigBeforeRenameHook(AppConfigBeforeRenameHook hook);
