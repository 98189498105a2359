"""tolvanex: run the mercury-removal kinetics programs and read what they write."""
