// What the program sets up once, before its first image, and gives back after a large one.
#pragma once

namespace lumenfield {

// Starts libvips as the program uses it and sets how the allocator treats the large blocks that
// images are made of. Call once, before the first image. False when libvips cannot start.
bool startImaging(const char* programPath);

// Hands the memory that freed images left in the allocator's arenas back to the system.
void returnFreedMemory();

} // namespace lumenfield
