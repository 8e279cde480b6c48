// The vxhost subcommands that live in files of their own.
#ifndef VXKERNEL_TOOLS_VXHOST_COMMANDS_H_
#define VXKERNEL_TOOLS_VXHOST_COMMANDS_H_

// Starts the library and lists the process classes: number, name, flags.
int RunClasses();
// Builds and prints a RecArray through the flat client interface.
int RunTable();

#endif  // VXKERNEL_TOOLS_VXHOST_COMMANDS_H_
