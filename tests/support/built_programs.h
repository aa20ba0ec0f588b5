#pragma once

// The programs of this build that tests start. Their paths are compiled into one small file
// (built_programs.cpp, given them by the build), so that the test files hold no path of this tree
// and a compiler cache serves their objects to any clone of it.
namespace orv::test {

extern const char* const kProgram;             // orvandel
extern const char* const kSimulator;           // orvandel-sim
extern const char* const kJournalChild;        // the crash test's child
extern const char* const kProgramFolderProbe;  // prints the program folder it finds
extern const char* const kTestModule;          // a module for the module loader's tests
extern const char* const kExtrasModule;        // the program's own module (orvandel-extras.so)
extern const char* const kCtlProgram;          // orvandelctl

}  // namespace orv::test
