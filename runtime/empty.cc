// Keeps the runtime object library non-empty while it has no other sources.
