// Filled in with the process layer.
