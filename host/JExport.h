// J_EXPORT: marks a class whose members, virtual table and type information
// must be visible outside the shared library that defines it.
//
// Plug-ins are built with hidden visibility, so only what the host needs
// leaves their library: the module class is declared `class J_EXPORT Name`.
// The host's own classes carry the same mark so that a plug-in compiled with
// hidden visibility still binds to the host library's single copy of their
// virtual tables and type information (dynamic_cast works across libraries).
#pragma once

#define J_EXPORT __attribute__((visibility("default")))
