// The framework layer grows here.
