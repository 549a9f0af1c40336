// Opening URLs, reports and help pages in the user's browser, each step written to the
// trace log (engine/TraceLog.h) under the source name "Wexo".
//
// Threads: the user-interface thread; neither call waits for the browser or its launcher.
#pragma once

#include <string>

class CWexoApp;
class IWexoHost;

// Opens url in the browser. There is no DDE conversation with a browser here: the http
// handler's DDE keys read as empty, so the launch always ends in LaunchUrlByShellExecute.
// [Options] UseDDE (default 1) decides only whether those empty keys are logged.
// codePage is passed on and plays no part.
void vLaunchURL(const CWexoApp& app, IWexoHost& host, const std::string& url, unsigned codePage);

// Hands url to the desktop's default application (platform::ShellOpen). A file URL is
// opened as its decoded local path, with its folder as the working folder; a path that
// does not exist fails as the shell's open does (2). A failure shows "Unable to open
// browser for '<url>': error <n>: <text>", and the trace log gets the result. A launcher that
// started is waited for off this thread: its outcome is shown and logged later, on the
// user-interface thread (IWexoHost::PostToUiThread). Returns the ShellExecute result: above
// 32 when the launch started.
int LaunchUrlByShellExecute(IWexoHost& host, const std::string& url, unsigned codePage);
