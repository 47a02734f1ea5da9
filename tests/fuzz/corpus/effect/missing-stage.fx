@vertex v
x
@technique T
pass vertex=v fragment=missing
