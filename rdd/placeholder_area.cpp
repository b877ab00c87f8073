// Replaced by the table engine.
