// The application object: start-up in a fixed order, then the main dialog.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "instance_lock.h"
#include "launch_args.h"
#include "wintypes.h"

class QApplication;
class IMessageBox;

class CVorur_OzudizApp {
public:
    // argv is copied before Qt sees it, so no launch argument is taken for a Qt option.
    CVorur_OzudizApp(int argc, char** argv);
    virtual ~CVorur_OzudizApp();

    // Runs start-up and the main dialog; always false (the process then ends).
    virtual BOOL InitInstance();
    virtual int ExitInstance();

    const LaunchArgs& GetLaunchArgs() const { return m_args; }
    static CVorur_OzudizApp* Current() { return s_current; }
    // The forms of the command line, for --help.
    static std::string Usage();

protected:
    BOOL ReadLaunchArgs();
    // A single argument is a launch link or a lesson file: it becomes the seven
    // arguments, or the start ends here with the reason shown (false).
    BOOL ResolveLaunchLink();
    // The hosts a launch link may fetch its lesson from.
    static std::vector<std::string> LaunchHosts();

private:
    static CVorur_OzudizApp* s_current;
    std::vector<std::string> m_rawArgs;  // the launch arguments, without the program name
    int m_qtArgc = 1;
    std::vector<char*> m_qtArgv;
    std::string m_programName;
    std::unique_ptr<QApplication> m_qapp;
    std::unique_ptr<IMessageBox> m_messageBox;
    LaunchArgs m_args;
    std::string m_downloadFolder;  // this run's, holding the package until it is opened
    RaiseRequest m_startToken;     // what our launcher gave us to take the focus with
    CInstanceChannel m_channel;    // later starts ask this copy to come to the front
};
