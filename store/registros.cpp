// Record layouts.
