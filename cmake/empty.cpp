// Keeps a subsystem library linkable while it has no sources of its own yet.
