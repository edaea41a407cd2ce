#pragma once

namespace vesperon {

// Prepares a root process before it touches anything: standard descriptors that are
// open, no stray inherited descriptors, files created with the modes we ask for, no
// core dumps (memory of a root process stays private), default child handling.
void hardenRootProcess();

} // namespace vesperon
