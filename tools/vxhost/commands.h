// The vxhost subcommands that live in files of their own.
#ifndef VXKERNEL_TOOLS_VXHOST_COMMANDS_H_
#define VXKERNEL_TOOLS_VXHOST_COMMANDS_H_

// Starts the library and lists the process classes: number, name, flags.
int RunClasses();
// Builds and prints a RecArray through the flat client interface.
int RunTable();
// Reads values in text form (the arguments, else standard input) and shows
// each one's text, display, type and binary forms; 1 when some text could
// not be read.
int RunValue(int argc, char** argv);
// vxhost user add|del|list and vxhost token add|del, with the words after
// "user" or "token": 0 done, 1 refused (unknown user, bad name...), 2 a
// usage error.
int RunUser(int argc, char** argv);
int RunToken(int argc, char** argv);
// vxhost derive-preview (not in the help: the server's own child), in
// serve_preview.h.
int RunDerivePreview(int argc, char** argv);

#endif  // VXKERNEL_TOOLS_VXHOST_COMMANDS_H_
