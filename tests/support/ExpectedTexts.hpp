#pragma once

// Every user text the tests expect, written out once, byte for byte as the product must show it. The
// product's own constants are never used here: a test that compared a text with itself would guard nothing.

namespace kavrel::expected {

// ---- Connector health and connector failure descriptions ----

// ---- end of connector texts ----

// ---- Model: notices, status lines, discovery, music sharing ----

// ---- end of model texts ----

// ---- Storage and platform ----

// ---- end of storage and platform texts ----

// ---- Application shell: menu, settings window, about panel ----

// ---- end of shell texts ----

} // namespace kavrel::expected
