-- Scatters grass blades over the floor (an example procedural: tracwell only
-- checks that it exists and never runs it).
for i = 1, 100 do
  vrx.create("blade" .. i, "curves")
end
