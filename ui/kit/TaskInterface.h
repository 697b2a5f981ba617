#pragma once
// Placeholder until the task framework lands.
