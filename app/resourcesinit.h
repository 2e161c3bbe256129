#pragma once

// Registers the compiled-in icons and animation under ":/Baroterm".
void registerBarotermResources();
