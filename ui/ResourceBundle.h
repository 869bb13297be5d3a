#pragma once

// Registers the built-in images (":/image/image_resource/...") once. They
// live in a static library, whose automatic registration the linker may drop,
// so everything that shows them calls this first.
namespace ResourceBundle {
void ensureRegistered();
}
