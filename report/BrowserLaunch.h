// Opening URLs, reports and help pages in the user's browser, each step written to the
// trace log (engine/TraceLog.h) under the source name "Wexo".
//
// Threads: the user-interface thread; neither call waits for the browser or its launcher. A
// launch is a step of the launch queue (platform::QueueLaunchStep): launches reach the browser
// one after the other in the order asked for, and the trace log tells each one whole. The host
// is called from that queue until platform::WaitForShellLaunches() has returned.
#pragma once

#include <string>

class CWexoApp;
class IWexoHost;

// Opens url in the browser. There is no DDE conversation with a browser here: the http
// handler's DDE keys read as empty, so the launch always ends in LaunchUrlByShellExecute.
// [Options] UseDDE (default 1) decides only whether those empty keys are logged.
// codePage is passed on and plays no part.
void vLaunchURL(const CWexoApp& app, IWexoHost& host, const std::string& url, unsigned codePage);

// Hands url to the desktop's default application (platform::ShellOpenAndWait) once the
// launches before it have ended. A file URL is opened as its decoded local path, with its
// folder as the working folder; a path that does not exist fails as the shell's open does (2).
// The trace log gets the result once the launcher has ended (or its bound passed); a failure
// shows "Unable to open browser for '<url>': error <n>: <text>" on the user-interface thread
// (IWexoHost::PostToUiThread).
void LaunchUrlByShellExecute(IWexoHost& host, const std::string& url, unsigned codePage);

// Writes a trace-log line in its place among the launches: once the launches asked for before
// it have ended.
void QueueTraceLog(const char* source, int line, std::string message);
